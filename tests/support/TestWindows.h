#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvan::testing {

// Windows of a test's own, with the class and title it needs, and the client list a window manager
// would publish on the root window.
class TestWindows {
public:
    TestWindows() : c_(xcb_connect(nullptr, nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    }
    ~TestWindows() {
        xcb_delete_property(c_, root_, atom("_NET_CLIENT_LIST_STACKING"));
        xcb_disconnect(c_);
    }

    xcb_window_t create(std::string_view windowClass, std::string_view title, const char* type = "_NET_WM_WINDOW_TYPE_NORMAL") {
        const xcb_window_t window = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, root_, 0, 0, 100, 100, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        const std::string classBytes = "instance" + std::string(1, '\0') + std::string(windowClass) + '\0';
        set(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, classBytes.size(), classBytes.data());
        set(window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, title.size(), title.data());
        const xcb_atom_t typeAtom = atom(type);
        set(window, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1, &typeAtom);
        xcb_map_window(c_, window);
        return window;
    }
    void destroy(xcb_window_t window) { xcb_destroy_window(c_, window); }
    // Bottom to top, as a window manager publishes it.
    void publish(const std::vector<xcb_window_t>& stacking) {
        set(root_, atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW, 32, stacking.size(), stacking.data());
        xcb_aux_sync();
    }

private:
    xcb_atom_t atom(const char* name) {
        auto cookie = xcb_intern_atom(c_, 0, static_cast<uint16_t>(std::strlen(name)), name);
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(xcb_intern_atom_reply(c_, cookie, nullptr), &std::free);
        return reply->atom;
    }
    void set(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, uint8_t format, std::size_t count, const void* data) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window, property, type, format, static_cast<uint32_t>(count), data);
    }
    void xcb_aux_sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

    xcb_connection_t* c_;
    xcb_window_t root_;
};

}  // namespace orvan::testing
