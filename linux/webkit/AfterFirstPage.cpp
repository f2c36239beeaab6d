#include "linux/webkit/AfterFirstPage.h"

#include <utility>

namespace orvan {

AfterFirstPage::AfterFirstPage(std::chrono::milliseconds patience) {
    patienceSource_ = g_timeout_add(static_cast<guint>(patience.count()), &onPatienceOver, this);
}

AfterFirstPage::~AfterFirstPage() {
    stopWatching();
    if (idleSource_ != 0) g_source_remove(idleSource_);
    if (patienceSource_ != 0) g_source_remove(patienceSource_);
}

void AfterFirstPage::defer(std::function<void()> work) {
    waiting_.push_back(std::move(work));
    if (open_) scheduleIdle();
}

void AfterFirstPage::watch(WebKitWebView* view) {
    if (open_ || watched_ != nullptr) return;
    watched_ = view;
    g_object_add_weak_pointer(G_OBJECT(view), reinterpret_cast<gpointer*>(&watched_));
    loadChanged_ = g_signal_connect(view, "load-changed", G_CALLBACK(&onLoadChanged), this);
    loadFailed_ = g_signal_connect(view, "load-failed", G_CALLBACK(&onLoadFailed), this);
}

void AfterFirstPage::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    if (event == WEBKIT_LOAD_FINISHED) static_cast<AfterFirstPage*>(self)->open();
}

gboolean AfterFirstPage::onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer self) {
    static_cast<AfterFirstPage*>(self)->open();
    return FALSE;
}

gboolean AfterFirstPage::onPatienceOver(gpointer self) {
    auto* gate = static_cast<AfterFirstPage*>(self);
    gate->patienceSource_ = 0;
    gate->open();
    return G_SOURCE_REMOVE;
}

void AfterFirstPage::open() {
    if (open_) return;
    open_ = true;
    stopWatching();
    if (patienceSource_ != 0) g_source_remove(patienceSource_);
    patienceSource_ = 0;
    scheduleIdle();
}

void AfterFirstPage::scheduleIdle() {
    // Below the priority of drawing and input, so the page is painted first.
    if (idleSource_ == 0 && !waiting_.empty()) idleSource_ = g_idle_add_full(G_PRIORITY_LOW, &onIdle, this, nullptr);
}

gboolean AfterFirstPage::onIdle(gpointer self) {
    auto* gate = static_cast<AfterFirstPage*>(self);
    gate->idleSource_ = 0;
    auto work = std::exchange(gate->waiting_, {});
    for (auto& task : work) task();
    return G_SOURCE_REMOVE;
}

void AfterFirstPage::stopWatching() {
    if (watched_ == nullptr) return;
    g_signal_handler_disconnect(watched_, loadChanged_);
    g_signal_handler_disconnect(watched_, loadFailed_);
    g_object_remove_weak_pointer(G_OBJECT(watched_), reinterpret_cast<gpointer*>(&watched_));
    watched_ = nullptr;
}

}  // namespace orvan
