#pragma once

#include <gio/gio.h>
#include <libdbusmenu-glib/server.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/StatusItem.h"

namespace orvan {

// A tray item as a StatusNotifierItem on the session bus, with its menu served by libdbusmenu.
// It registers with the org.kde.StatusNotifierWatcher whenever one appears (a panel that starts,
// restarts or crashes later), so it shows up in whatever panel the desktop runs.
class StatusNotifierItem final : public StatusItem {
public:
    static constexpr const char* kItemPath = "/StatusNotifierItem";
    static constexpr const char* kMenuPath = "/MenuBar";
    static constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";

    explicit StatusNotifierItem(StatusItemContent content);
    ~StatusNotifierItem() override;
    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    void setTitle(const std::string& title) override;
    void setChecked(std::size_t index, bool checked) override;
    void setLeadingRows(std::vector<StatusMenuEntry> rows) override;

    // The item's well-known name on the bus.
    const std::string& busName() const { return busName_; }

private:
    static void onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                             GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self);
    static GVariant* onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property,
                                   GError** error, gpointer self);
    void buildMenu();
    DbusmenuMenuitem* makeRow(const StatusMenuEntry& entry);
    void chosen(DbusmenuMenuitem* item);
    void registerWithWatcher();
    static void onUnregistered(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                               gpointer self);
    void emit(const char* signal, GVariant* parameters);
    GVariant* iconPixmaps() const;
    std::string iconName() const;

    StatusItemContent content_;
    std::string busName_;
    std::string title_;
    std::string pendingToken_;  // handed over by the host just before an Activate
    GDBusConnection* connection_ = nullptr;
    guint objectId_ = 0;
    guint ownerId_ = 0;
    guint watchId_ = 0;
    guint unregisteredId_ = 0;
    guint reregisterSource_ = 0;
    int reregistrations_ = 0;  // since the panel appeared
    bool nameAcquired_ = false;
    bool watcherPresent_ = false;
    bool toldNoWatcher_ = false;
    DbusmenuServer* menuServer_ = nullptr;
    DbusmenuMenuitem* root_ = nullptr;     // owned by the server
    std::vector<DbusmenuMenuitem*> rows_;  // owned by the root item
    std::vector<DbusmenuMenuitem*> leading_;  // before rows_, also owned by the root item
    std::vector<StatusMenuEntry> leadingEntries_;
    GCancellable* cancellable_ = nullptr;
};

// Tray items on StatusNotifierItem.
class StatusNotifierBar final : public StatusBar {
public:
    std::unique_ptr<StatusItem> addItem(StatusItemContent content) override {
        return std::make_unique<StatusNotifierItem>(std::move(content));
    }
};

}  // namespace orvan
