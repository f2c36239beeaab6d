#include "linux/dbus/StatusNotifierItem.h"

#include <algorithm>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <libdbusmenu-glib/menuitem.h>
#include <unistd.h>

#include <system_error>
#include <utility>

#include "platform/SystemLog.h"

namespace orvan {

namespace {

constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <property name="XAyatanaLabel" type="s" access="read"/>
    <property name="XAyatanaLabelGuide" type="s" access="read"/>
    <property name="XAyatanaOrderingIndex" type="u" access="read"/>
    <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
    <method name="ProvideXdgActivationToken"><arg name="token" type="s" direction="in"/></method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus"><arg name="status" type="s"/></signal>
    <signal name="XAyatanaNewLabel"><arg name="label" type="s"/><arg name="guide" type="s"/></signal>
  </interface>
</node>)xml";

GDBusInterfaceInfo* itemInterface() {
    static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    return node->interfaces[0];
}

// One image as the item's pixmap: width, height and ARGB32 pixels in network byte order.
void appendPixmap(GVariantBuilder& builder, GdkPixbuf* image) {
    GdkPixbuf* rgba = gdk_pixbuf_get_has_alpha(image) ? g_object_ref(image) : gdk_pixbuf_add_alpha(image, FALSE, 0, 0, 0);
    const int width = gdk_pixbuf_get_width(rgba);
    const int height = gdk_pixbuf_get_height(rgba);
    const int stride = gdk_pixbuf_get_rowstride(rgba);
    const guchar* pixels = gdk_pixbuf_read_pixels(rgba);
    GByteArray* argb = g_byte_array_sized_new(static_cast<guint>(width * height * 4));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const guchar* p = pixels + y * stride + x * 4;
            const guchar pixel[4] = {p[3], p[0], p[1], p[2]};
            g_byte_array_append(argb, pixel, 4);
        }
    }
    GBytes* bytes = g_byte_array_free_to_bytes(argb);
    g_variant_builder_add(&builder, "(ii@ay)", width, height,
                          g_variant_new_from_bytes(G_VARIANT_TYPE_BYTESTRING, bytes, TRUE));
    g_bytes_unref(bytes);
    g_object_unref(rgba);
}

GVariant* emptyPixmaps() { return g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0); }

}  // namespace

StatusNotifierItem::StatusNotifierItem(StatusItemContent content) : content_(std::move(content)) {
    static int itemCount = 0;
    busName_ = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-" + std::to_string(++itemCount);
    cancellable_ = g_cancellable_new();
    GError* error = nullptr;
    connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (connection_ == nullptr) {
        systemLog(std::string("Kestrin: セッションバスに接続できません: ") + error->message);
        g_error_free(error);
        return;
    }
    static const GDBusInterfaceVTable vtable = {&onMethodCall, &onGetProperty, nullptr, {}};
    objectId_ = g_dbus_connection_register_object(connection_, kItemPath, itemInterface(), &vtable, this, nullptr, &error);
    if (objectId_ == 0) {
        systemLog(std::string("Kestrin: トレイの項目を登録できません: ") + error->message);
        g_error_free(error);
        return;
    }
    buildMenu();
    ownerId_ = g_bus_own_name_on_connection(
        connection_, busName_.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
        +[](GDBusConnection*, const gchar*, gpointer self) {
            auto* item = static_cast<StatusNotifierItem*>(self);
            item->nameAcquired_ = true;
            item->registerWithWatcher();
        },
        nullptr, this, nullptr);
    // Called at once with the current state, then whenever a panel comes or goes.
    watchId_ = g_bus_watch_name_on_connection(
        connection_, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
        +[](GDBusConnection*, const gchar*, const gchar*, gpointer self) {
            auto* item = static_cast<StatusNotifierItem*>(self);
            item->watcherPresent_ = true;
            item->reregistrations_ = 0;
            item->registerWithWatcher();
            if (item->content_.onShownChanged) item->content_.onShownChanged(true);
        },
        +[](GDBusConnection*, const gchar*, gpointer self) {
            auto* item = static_cast<StatusNotifierItem*>(self);
            item->watcherPresent_ = false;
            if (item->reregisterSource_ != 0) g_source_remove(std::exchange(item->reregisterSource_, 0u));
            if (item->content_.onShownChanged) item->content_.onShownChanged(false);
            if (!std::exchange(item->toldNoWatcher_, true)) {
                systemLog("Kestrin: トレイ（StatusNotifierWatcher）がないため、アイコンは表示されません");
            }
        },
        this, nullptr);
    unregisteredId_ = g_dbus_connection_signal_subscribe(connection_, kWatcherName, kWatcherName,
                                                         "StatusNotifierItemUnregistered", "/StatusNotifierWatcher",
                                                         nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &onUnregistered,
                                                         this, nullptr);
}

StatusNotifierItem::~StatusNotifierItem() {
    g_cancellable_cancel(cancellable_);
    g_object_unref(cancellable_);
    if (reregisterSource_ != 0) g_source_remove(reregisterSource_);
    if (unregisteredId_ != 0) g_dbus_connection_signal_unsubscribe(connection_, unregisteredId_);
    if (watchId_ != 0) g_bus_unwatch_name(watchId_);
    if (ownerId_ != 0) g_bus_unown_name(ownerId_);
    // Menu items may outlive the server in a client's hands: they must not call back into us.
    for (DbusmenuMenuitem* row : rows_) g_signal_handlers_disconnect_by_data(row, this);
    for (DbusmenuMenuitem* row : leading_) g_signal_handlers_disconnect_by_data(row, this);
    if (root_ != nullptr) g_signal_handlers_disconnect_by_data(root_, this);
    if (menuServer_ != nullptr) g_object_unref(menuServer_);
    if (objectId_ != 0) g_dbus_connection_unregister_object(connection_, objectId_);
    if (connection_ != nullptr) g_object_unref(connection_);
}

DbusmenuMenuitem* StatusNotifierItem::makeRow(const StatusMenuEntry& entry) {
    DbusmenuMenuitem* row = dbusmenu_menuitem_new();
    if (entry.kind == StatusMenuEntry::Kind::separator) {
        dbusmenu_menuitem_property_set(row, DBUSMENU_MENUITEM_PROP_TYPE, "separator");
    } else {
        dbusmenu_menuitem_property_set(row, DBUSMENU_MENUITEM_PROP_LABEL, entry.title.c_str());
    }
    if (!entry.enabled) dbusmenu_menuitem_property_set_bool(row, DBUSMENU_MENUITEM_PROP_ENABLED, FALSE);
    if (entry.kind == StatusMenuEntry::Kind::checkbox) {
        dbusmenu_menuitem_property_set(row, DBUSMENU_MENUITEM_PROP_TOGGLE_TYPE, DBUSMENU_MENUITEM_TOGGLE_CHECK);
        dbusmenu_menuitem_property_set_int(row, DBUSMENU_MENUITEM_PROP_TOGGLE_STATE,
                                           entry.checked ? DBUSMENU_MENUITEM_TOGGLE_STATE_CHECKED
                                                         : DBUSMENU_MENUITEM_TOGGLE_STATE_UNCHECKED);
    }
    if (!entry.shortcut.empty()) {
        GVariantBuilder keys;
        g_variant_builder_init(&keys, G_VARIANT_TYPE("as"));
        for (const std::string& key : entry.shortcut) g_variant_builder_add(&keys, "s", key.c_str());
        GVariantBuilder shortcuts;
        g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("aas"));
        g_variant_builder_add_value(&shortcuts, g_variant_builder_end(&keys));
        dbusmenu_menuitem_property_set_variant(row, DBUSMENU_MENUITEM_PROP_SHORTCUT, g_variant_builder_end(&shortcuts));
    }
    g_signal_connect(row, DBUSMENU_MENUITEM_SIGNAL_ITEM_ACTIVATED, G_CALLBACK(+[](DbusmenuMenuitem* item, guint, gpointer self) {
                         static_cast<StatusNotifierItem*>(self)->chosen(item);
                     }),
                     this);
    return row;
}

void StatusNotifierItem::chosen(DbusmenuMenuitem* item) {
    // A copy: the action may replace the rows.
    std::function<void()> action;
    for (std::size_t index = 0; index < rows_.size(); ++index) {
        if (rows_[index] == item) action = content_.menu[index].action;
    }
    for (std::size_t index = 0; index < leading_.size(); ++index) {
        if (leading_[index] == item) action = leadingEntries_[index].action;
    }
    if (action) action();
}

void StatusNotifierItem::buildMenu() {
    menuServer_ = dbusmenu_server_new(kMenuPath);
    DbusmenuMenuitem* root = dbusmenu_menuitem_new();
    root_ = root;
    for (const StatusMenuEntry& entry : content_.menu) {
        DbusmenuMenuitem* row = makeRow(entry);
        dbusmenu_menuitem_child_append(root, row);
        rows_.push_back(row);
        g_object_unref(row);
    }
    // Hosts say either AboutToShow or an "opened" event before they show the menu.
    g_signal_connect(root, DBUSMENU_MENUITEM_SIGNAL_ABOUT_TO_SHOW, G_CALLBACK(+[](DbusmenuMenuitem*, gpointer self) -> gboolean {
                         auto* owner = static_cast<StatusNotifierItem*>(self);
                         if (owner->content_.onMenuAboutToShow) owner->content_.onMenuAboutToShow();
                         return FALSE;
                     }),
                     this);
    g_signal_connect(root, "event::opened", G_CALLBACK(+[](DbusmenuMenuitem*, gchar*, GVariant*, guint, gpointer self) -> gboolean {
                         auto* owner = static_cast<StatusNotifierItem*>(self);
                         if (owner->content_.onMenuAboutToShow) owner->content_.onMenuAboutToShow();
                         return FALSE;
                     }),
                     this);
    dbusmenu_server_set_root(menuServer_, root);
    g_object_unref(root);
}

void StatusNotifierItem::setLeadingRows(std::vector<StatusMenuEntry> rows) {
    if (root_ == nullptr) return;
    // The same rows with other texts (a recording's clock): changed in place, the layout stays.
    const bool sameShape = rows.size() == leading_.size() &&
                           std::equal(rows.begin(), rows.end(), leadingEntries_.begin(), [](const auto& a, const auto& b) {
                               return a.kind == b.kind && a.enabled == b.enabled && !a.action == !b.action;
                           });
    if (sameShape) {
        for (std::size_t index = 0; index < rows.size(); ++index) {
            if (rows[index].kind != StatusMenuEntry::Kind::separator && rows[index].title != leadingEntries_[index].title) {
                dbusmenu_menuitem_property_set(leading_[index], DBUSMENU_MENUITEM_PROP_LABEL, rows[index].title.c_str());
            }
        }
        leadingEntries_ = std::move(rows);
        return;
    }
    for (DbusmenuMenuitem* row : leading_) {
        g_signal_handlers_disconnect_by_data(row, this);
        dbusmenu_menuitem_child_delete(root_, row);
    }
    leading_.clear();
    leadingEntries_ = std::move(rows);
    for (std::size_t index = 0; index < leadingEntries_.size(); ++index) {
        DbusmenuMenuitem* row = makeRow(leadingEntries_[index]);
        dbusmenu_menuitem_child_add_position(root_, row, static_cast<guint>(index));
        leading_.push_back(row);
        g_object_unref(row);
    }
}

void StatusNotifierItem::registerWithWatcher() {
    if (!nameAcquired_ || !watcherPresent_) return;
    g_dbus_connection_call(
        connection_, kWatcherName, "/StatusNotifierWatcher", kWatcherName, "RegisterStatusNotifierItem",
        g_variant_new("(s)", busName_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, cancellable_,
        +[](GObject* source, GAsyncResult* result, gpointer) {
            GError* error = nullptr;
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            if (reply != nullptr) {
                g_variant_unref(reply);
            } else {
                if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
                    systemLog(std::string("Kestrin: トレイに登録できません: ") + error->message);
                }
                g_error_free(error);
            }
        },
        nullptr);
}

// A panel may drop a live item: GNOME's AppIndicator extension does when its own set-up of the item
// trips over a race of its own (in some starts). The item registers again, a few times at most; a
// panel that is going away (it drops every item first) is left alone. Watchers name the item by its
// bus name alone or followed by its object path.
void StatusNotifierItem::onUnregistered(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                        GVariant* parameters, gpointer self) {
    auto* item = static_cast<StatusNotifierItem*>(self);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(s)"))) return;
    const gchar* dropped = nullptr;
    g_variant_get(parameters, "(&s)", &dropped);
    if (dropped != item->busName_ && dropped != item->busName_ + kItemPath) return;
    if (item->reregisterSource_ != 0 || item->reregistrations_ >= 3) return;
    item->reregisterSource_ = g_timeout_add(500, +[](gpointer data) -> gboolean {
        auto* waiting = static_cast<StatusNotifierItem*>(data);
        waiting->reregisterSource_ = 0;
        ++waiting->reregistrations_;
        waiting->registerWithWatcher();
        return G_SOURCE_REMOVE;
    }, item);
}

void StatusNotifierItem::emit(const char* signal, GVariant* parameters) {
    if (connection_ == nullptr || objectId_ == 0) {
        if (parameters != nullptr) g_variant_unref(g_variant_ref_sink(parameters));
        return;
    }
    g_dbus_connection_emit_signal(connection_, nullptr, kItemPath, kItemInterface, signal, parameters, nullptr);
}

void StatusNotifierItem::setTitle(const std::string& title) {
    if (title == title_) return;
    title_ = title;
    emit("XAyatanaNewLabel", g_variant_new("(ss)", title_.c_str(), title_.c_str()));
}

void StatusNotifierItem::setChecked(std::size_t index, bool checked) {
    if (index >= rows_.size()) return;
    content_.menu[index].checked = checked;
    dbusmenu_menuitem_property_set_int(rows_[index], DBUSMENU_MENUITEM_PROP_TOGGLE_STATE,
                                       checked ? DBUSMENU_MENUITEM_TOGGLE_STATE_CHECKED : DBUSMENU_MENUITEM_TOGGLE_STATE_UNCHECKED);
}

std::string StatusNotifierItem::iconName() const {
    if (!content_.imageFolder) return "";
    // A "-symbolic" twin lets the panel draw the image in its own foreground colour.
    std::error_code error;
    const std::string symbolic = content_.imageName + "-symbolic";
    return std::filesystem::is_regular_file(*content_.imageFolder / (symbolic + ".svg"), error) ? symbolic : content_.imageName;
}

GVariant* StatusNotifierItem::iconPixmaps() const {
    if (!content_.imageFolder) return emptyPixmaps();
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
    const std::filesystem::path folder = *content_.imageFolder;
    const std::string name = content_.imageName;
    // The 18-pixel image and its double-density twin, so hosts without the icon path stay sharp.
    const std::pair<std::string, int> sizes[] = {{name + ".png", 18}, {name + "@2x.png", 36}};
    for (const auto& [file, size] : sizes) {
        GdkPixbuf* image = gdk_pixbuf_new_from_file((folder / file).c_str(), nullptr);
        if (image == nullptr) image = gdk_pixbuf_new_from_file_at_size((folder / (name + ".svg")).c_str(), size, size, nullptr);
        if (image == nullptr) continue;
        appendPixmap(builder, image);
        g_object_unref(image);
    }
    return g_variant_builder_end(&builder);
}

void StatusNotifierItem::onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                                      GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
    auto* item = static_cast<StatusNotifierItem*>(self);
    const std::string name = method;
    if (name == "ProvideXdgActivationToken") {
        const gchar* token = nullptr;
        g_variant_get(parameters, "(&s)", &token);
        item->pendingToken_ = token;
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
    // The host shows the menu itself from the Menu property, on a right click and on ContextMenu.
    if (name == "Activate" && item->content_.onActivate) {
        item->content_.onActivate(std::exchange(item->pendingToken_, std::string()));
    }
}

GVariant* StatusNotifierItem::onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                            const gchar* property, GError**, gpointer self) {
    auto* item = static_cast<StatusNotifierItem*>(self);
    const std::string name = property;
    const std::string& tip = item->content_.toolTip;
    if (name == "Category") return g_variant_new_string("ApplicationStatus");
    if (name == "Id") return g_variant_new_string("jp.tomoriva.OrvanOffice");
    if (name == "Title") return g_variant_new_string(tip.c_str());
    if (name == "Status") return g_variant_new_string("Active");
    if (name == "WindowId") return g_variant_new_int32(0);
    if (name == "IconThemePath") {
        return g_variant_new_string(item->content_.imageFolder ? item->content_.imageFolder->c_str() : "");
    }
    if (name == "IconName") return g_variant_new_string(item->iconName().c_str());
    if (name == "IconPixmap") return item->iconPixmaps();
    if (name == "OverlayIconPixmap" || name == "AttentionIconPixmap") return emptyPixmaps();
    if (name == "ToolTip") return g_variant_new("(s@a(iiay)ss)", "", emptyPixmaps(), tip.c_str(), "");
    if (name == "ItemIsMenu") return g_variant_new_boolean(FALSE);
    if (name == "Menu") return g_variant_new_object_path(kMenuPath);
    if (name == "XAyatanaLabel" || name == "XAyatanaLabelGuide") return g_variant_new_string(item->title_.c_str());
    if (name == "XAyatanaOrderingIndex") return g_variant_new_uint32(0);
    return g_variant_new_string("");
}

}  // namespace orvan
