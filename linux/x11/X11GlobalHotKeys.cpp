#include "linux/x11/X11GlobalHotKeys.h"
#include "linux/glib/HotKeyPressDispatch.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <glib-unix.h>
#include <glib.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace orvan {
namespace {

// Xlib reports a refused grab only through the process-wide error handler: it is installed for
// the few synchronous requests of a registration and the previous one restored right after.
int firstError = 0;
int recordError(Display*, XErrorEvent* event) {
    if (firstError == 0) firstError = event->error_code;
    return 0;
}

// The modifier bit that a key symbol (Num_Lock, Super_L, ...) is mapped to; 0 when none.
unsigned modifierOf(Display* display, KeySym symbol) {
    const KeyCode code = XKeysymToKeycode(display, symbol);
    if (code == 0) return 0;
    XModifierKeymap* map = XGetModifierMapping(display);
    unsigned mask = 0;
    for (int modifier = 0; modifier < 8 && mask == 0; ++modifier) {
        for (int slot = 0; slot < map->max_keypermod; ++slot) {
            if (map->modifiermap[modifier * map->max_keypermod + slot] == code) {
                mask = 1u << modifier;
                break;
            }
        }
    }
    XFreeModifiermap(map);
    return mask;
}

class X11HotKey final : public GlobalHotKey {
public:
    X11HotKey(Display* display, KeyCode code, unsigned modifiers, unsigned locks, GlobalHotKeys::Pressed pressed)
        : display_(display), code_(code), modifiers_(modifiers), locks_(locks),
          pressed_(std::make_shared<GlobalHotKeys::Pressed>(std::move(pressed))) {}

    ~X11HotKey() override {
        if (watch_ != 0) g_source_remove(watch_);
        if (grabbed_) {
            for (unsigned variant : lockVariants()) XUngrabKey(display_, code_, modifiers_ | variant, root());
        }
        XCloseDisplay(display_);
    }

    // 0, or the X error code of the first refused grab (then nothing stays grabbed).
    int grab() {
        XSync(display_, False);
        firstError = 0;
        auto* previous = XSetErrorHandler(recordError);
        for (unsigned variant : lockVariants()) {
            XGrabKey(display_, code_, modifiers_ | variant, root(), False, GrabModeAsync, GrabModeAsync);
        }
        XSync(display_, False);
        const int error = firstError;
        if (error != 0) {
            for (unsigned variant : lockVariants()) XUngrabKey(display_, code_, modifiers_ | variant, root());
            XSync(display_, False);
        }
        XSetErrorHandler(previous);
        if (error != 0) return error;
        grabbed_ = true;
        watch_ = g_unix_fd_add(ConnectionNumber(display_), G_IO_IN, &X11HotKey::readable, this);
        return 0;
    }

private:
    Window root() const { return DefaultRootWindow(display_); }

    // Every combination of the lock modifiers, so that the key matches whichever are on.
    std::vector<unsigned> lockVariants() const {
        std::vector<unsigned> variants{0};
        for (unsigned bit = 1; bit != 0 && bit <= locks_; bit <<= 1) {
            if ((locks_ & bit) == 0) continue;
            const std::size_t count = variants.size();
            for (std::size_t index = 0; index < count; ++index) variants.push_back(variants[index] | bit);
        }
        return variants;
    }

    static gboolean readable(gint, GIOCondition, gpointer data) {
        auto* self = static_cast<X11HotKey*>(data);
        while (XPending(self->display_) > 0) {
            XEvent event;
            XNextEvent(self->display_, &event);
            if (event.type != KeyPress || event.xkey.keycode != self->code_) continue;
            if ((event.xkey.state & ~self->locks_) != self->modifiers_) continue;
            self->schedule(event.xkey.time);
        }
        return G_SOURCE_CONTINUE;
    }

    // The press is only handed on here; the work runs on its own turn of the main loop.
    void schedule(Time time) {
        // "_TIME<n>" is the X startup-notification form: the focus may change at the key's time.
        dispatchHotKeyPress(pressed_, "_TIME" + std::to_string(time));
    }

    Display* display_;
    KeyCode code_;
    unsigned modifiers_;
    unsigned locks_;
    // Shared only so that a press scheduled before destruction finds it gone.
    std::shared_ptr<GlobalHotKeys::Pressed> pressed_;
    bool grabbed_ = false;
    guint watch_ = 0;
};

}  // namespace

HotKeyRegistration X11GlobalHotKeys::registerHotKey(const std::vector<std::string>& keys, Pressed pressed, Refused) {
    Display* display = XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str());
    if (display == nullptr || keys.empty()) {
        if (display != nullptr) XCloseDisplay(display);
        return {nullptr, GlobalHotKeys::kUnavailable};
    }
    unsigned modifiers = 0;
    for (std::size_t index = 0; index + 1 < keys.size(); ++index) {
        const std::string& name = keys[index];
        if (name == "Shift") modifiers |= ShiftMask;
        else if (name == "Control") modifiers |= ControlMask;
        else if (name == "Alt") modifiers |= Mod1Mask;
        else if (name == "Super") modifiers |= modifierOf(display, XK_Super_L) != 0 ? modifierOf(display, XK_Super_L) : Mod4Mask;
    }
    const unsigned locks = LockMask | modifierOf(display, XK_Num_Lock) | modifierOf(display, XK_Scroll_Lock);
    const KeyCode code = XKeysymToKeycode(display, XStringToKeysym(keys.back().c_str()));
    if (code == 0) {
        XCloseDisplay(display);
        return {nullptr, BadValue};
    }
    auto key = std::make_unique<X11HotKey>(display, code, modifiers & ~locks, locks, std::move(pressed));
    if (const int error = key->grab(); error != 0) return {nullptr, error};
    return {std::move(key), 0};
}

}  // namespace orvan
