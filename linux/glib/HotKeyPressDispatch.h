#pragma once

#include <glib.h>

#include <memory>
#include <string>
#include <utility>

#include "platform/GlobalHotKeys.h"

namespace orvan {

// Hands a hot key's press to its handler on a turn of the main loop of its own, with the activation
// token; nothing happens when the handler has gone meanwhile.
inline void dispatchHotKeyPress(std::weak_ptr<GlobalHotKeys::Pressed> pressed, std::string token) {
    struct Press {
        std::weak_ptr<GlobalHotKeys::Pressed> pressed;
        std::string token;
    };
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        +[](gpointer data) -> gboolean {
            auto* due = static_cast<Press*>(data);
            if (auto handler = due->pressed.lock()) (*handler)(due->token);
            return G_SOURCE_REMOVE;
        },
        new Press{std::move(pressed), std::move(token)}, +[](gpointer data) { delete static_cast<Press*>(data); });
}

}  // namespace orvan
