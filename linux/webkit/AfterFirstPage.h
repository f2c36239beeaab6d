#pragma once

#include <webkit2/webkit2.h>

#include <chrono>
#include <functional>
#include <vector>

namespace orvan {

// Holds back start-up work that the first page does not need (the tray companion, D-Bus probes)
// until the first watched web view has finished or failed its first load and the main loop has
// nothing more urgent to do, or until `patience` has passed, so a slow page does not keep it
// back for long. Work deferred after that runs at the next idle moment.
class AfterFirstPage {
public:
    explicit AfterFirstPage(std::chrono::milliseconds patience);
    ~AfterFirstPage();
    AfterFirstPage(const AfterFirstPage&) = delete;
    AfterFirstPage& operator=(const AfterFirstPage&) = delete;

    void defer(std::function<void()> work);
    // Called for every new window's view; only the first load of the first one counts.
    void watch(WebKitWebView* view);

private:
    static void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
    static gboolean onLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri, GError* error, gpointer self);
    static gboolean onIdle(gpointer self);
    static gboolean onPatienceOver(gpointer self);
    void open();
    void scheduleIdle();
    void stopWatching();

    bool open_ = false;
    std::vector<std::function<void()>> waiting_;
    WebKitWebView* watched_ = nullptr;  // weak: cleared when the view goes
    gulong loadChanged_ = 0;
    gulong loadFailed_ = 0;
    guint idleSource_ = 0;
    guint patienceSource_ = 0;
};

}  // namespace orvan
