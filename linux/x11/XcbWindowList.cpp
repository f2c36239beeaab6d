#include "linux/x11/XcbWindowList.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace orvan {

namespace {

enum Atom : std::size_t {
    kClientListStacking, kClientList, kWindowType, kTypeNormal, kTypeDialog, kWmName, kUtf8String, kAtomCount
};
constexpr std::array<std::string_view, kAtomCount> kAtomNames = {
    "_NET_CLIENT_LIST_STACKING", "_NET_CLIENT_LIST", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_WINDOW_TYPE_DIALOG", "_NET_WM_NAME", "UTF8_STRING"};

// Enough for any class or title; longer names are cut.
constexpr uint32_t kPropertyWords = 1024;
constexpr uint32_t kClientListWords = 8192;

struct ReplyFree {
    void operator()(void* reply) const { std::free(reply); }
};
using PropertyReply = std::unique_ptr<xcb_get_property_reply_t, ReplyFree>;

PropertyReply reply(xcb_connection_t* connection, xcb_get_property_cookie_t cookie) {
    return PropertyReply(xcb_get_property_reply(connection, cookie, nullptr));
}

std::string_view bytes(const PropertyReply& property) {
    if (!property || property->format != 8) return {};
    return {static_cast<const char*>(xcb_get_property_value(property.get())),
            static_cast<std::size_t>(xcb_get_property_value_length(property.get()))};
}

// WM_NAME in STRING is Latin-1.
std::string latin1ToUtf8(std::string_view text) {
    std::string result;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            result += c;
        } else {
            result += static_cast<char>(0xC0 | (byte >> 6));
            result += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return result;
}

}  // namespace

struct XcbWindowList::Connection {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    std::array<xcb_atom_t, kAtomCount> atoms{};
    ~Connection() {
        if (connection != nullptr) xcb_disconnect(connection);
    }
};

XcbWindowList::XcbWindowList(std::string display) : display_(std::move(display)) {}
XcbWindowList::~XcbWindowList() = default;

bool XcbWindowList::connect() {
    if (connection_ && xcb_connection_has_error(connection_->connection) == 0) return true;
    connection_.reset();
    auto fresh = std::make_unique<Connection>();
    int screenNumber = 0;
    fresh->connection = xcb_connect(display_.empty() ? nullptr : display_.c_str(), &screenNumber);
    if (xcb_connection_has_error(fresh->connection) != 0) return false;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(fresh->connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem == 0) return false;
    fresh->root = screens.data->root;
    std::array<xcb_intern_atom_cookie_t, kAtomCount> cookies{};
    for (std::size_t i = 0; i < kAtomCount; ++i)
        cookies[i] = xcb_intern_atom(fresh->connection, 0, static_cast<uint16_t>(kAtomNames[i].size()), kAtomNames[i].data());
    for (std::size_t i = 0; i < kAtomCount; ++i) {
        std::unique_ptr<xcb_intern_atom_reply_t, ReplyFree> atom(xcb_intern_atom_reply(fresh->connection, cookies[i], nullptr));
        if (!atom) return false;
        fresh->atoms[i] = atom->atom;
    }
    connection_ = std::move(fresh);
    return true;
}

DesktopWindows XcbWindowList::list() {
    DesktopWindows result;
    if (!connect()) return result;
    xcb_connection_t* c = connection_->connection;
    const auto& atoms = connection_->atoms;

    auto getProperty = [c](xcb_window_t window, xcb_atom_t property, xcb_atom_t type, uint32_t words) {
        return xcb_get_property(c, 0, window, property, type, 0, words);
    };
    std::vector<xcb_window_t> clients;
    for (Atom listAtom : {kClientListStacking, kClientList}) {
        PropertyReply list = reply(c, getProperty(connection_->root, atoms[listAtom], XCB_ATOM_WINDOW, kClientListWords));
        if (!list || list->format != 32 || xcb_get_property_value_length(list.get()) == 0) continue;
        const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
        clients.assign(windows, windows + xcb_get_property_value_length(list.get()) / 4);
        // The stacking order is bottom to top; front to back is the reverse.
        if (listAtom == kClientListStacking) std::reverse(clients.begin(), clients.end());
        break;
    }

    struct Cookies {
        xcb_get_property_cookie_t type, windowClass, netName;
    };
    std::vector<Cookies> cookies;
    cookies.reserve(clients.size());
    for (xcb_window_t window : clients) {
        cookies.push_back({getProperty(window, atoms[kWindowType], XCB_ATOM_ATOM, 32),
                           getProperty(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, kPropertyWords),
                           getProperty(window, atoms[kWmName], atoms[kUtf8String], kPropertyWords)});
    }
    // Windows without a UTF-8 name (rare) have their legacy name asked for in a second round.
    std::vector<DesktopWindow> found;
    std::vector<std::optional<xcb_get_property_cookie_t>> legacyNames;
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        const Cookies& cookie = cookies[i];
        PropertyReply type = reply(c, cookie.type);
        PropertyReply windowClass = reply(c, cookie.windowClass);
        PropertyReply netName = reply(c, cookie.netName);
        // Application windows only: no type given, or a normal window or dialog.
        if (type && type->format == 32 && xcb_get_property_value_length(type.get()) > 0) {
            const auto* types = static_cast<const xcb_atom_t*>(xcb_get_property_value(type.get()));
            const auto count = static_cast<std::size_t>(xcb_get_property_value_length(type.get())) / 4;
            bool application = false;
            for (std::size_t t = 0; t < count; ++t)
                application = application || types[t] == atoms[kTypeNormal] || types[t] == atoms[kTypeDialog];
            if (!application) continue;
        }
        // WM_CLASS is "instance\0Class\0".
        const std::string_view classBytes = bytes(windowClass);
        const std::size_t split = classBytes.find('\0');
        if (split == std::string_view::npos) continue;
        std::string_view className = classBytes.substr(split + 1);
        if (const std::size_t end = className.find('\0'); end != std::string_view::npos) className = className.substr(0, end);
        if (className.empty()) continue;

        DesktopWindow window{std::string(className), std::nullopt};
        if (netName && netName->type == atoms[kUtf8String] && !bytes(netName).empty()) {
            window.title = std::string(bytes(netName));
            legacyNames.emplace_back();
        } else {
            legacyNames.push_back(getProperty(clients[i], XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, kPropertyWords));
        }
        found.push_back(std::move(window));
    }
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (legacyNames[i]) {
            PropertyReply name = reply(c, *legacyNames[i]);
            if (name && name->type == atoms[kUtf8String]) found[i].title = std::string(bytes(name));
            else if (name && name->type == XCB_ATOM_STRING) found[i].title = latin1ToUtf8(bytes(name));
        }
        result.windows.push_back(std::move(found[i]));
    }
    // On a Wayland desktop only the X11 windows are listed here.
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    result.titlesReadable = wayland == nullptr || *wayland == '\0';
    return result;
}

}  // namespace orvan
