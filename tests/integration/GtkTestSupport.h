#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace orvan::testing {

// Iterates the default main context until `done` holds or `timeout` passes; returns `done()`.
inline bool runUntil(const std::function<bool()>& done,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(20000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        g_main_context_iteration(nullptr, FALSE);
        g_usleep(1000);
    }
    return true;
}

// Keeps the main loop running for a while, so that anything that should not happen gets a chance to.
inline void spin(std::chrono::milliseconds duration) {
    runUntil([] { return false; }, duration);
}

// Evaluates `script` in the page (or in the script world named) and returns its result as JSON
// text; nullopt on a script error.
inline std::optional<nlohmann::json> evaluate(WebKitWebView* view, const std::string& script,
                                              const char* world = nullptr) {
    struct Outcome {
        bool done = false;
        std::optional<nlohmann::json> value;
    } outcome;
    webkit_web_view_evaluate_javascript(
        view, script.c_str(), static_cast<gssize>(script.size()), world, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* out = static_cast<Outcome*>(data);
            GError* error = nullptr;
            JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (value != nullptr) {
                char* json = jsc_value_to_json(value, 0);
                out->value = json != nullptr ? nlohmann::json::parse(json) : nlohmann::json();
                g_free(json);
                g_object_unref(value);
            }
            if (error != nullptr) g_error_free(error);
            out->done = true;
        },
        &outcome);
    runUntil([&] { return outcome.done; });
    return outcome.value;
}

// Runs `body` as an async function in the page, with string arguments by name; its resolved value
// as JSON (null on a script error, which fails the test).
inline nlohmann::json callAsync(WebKitWebView* view, const std::string& body,
                                const std::vector<std::pair<std::string, std::string>>& arguments = {}) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    for (const auto& [name, value] : arguments)
        g_variant_builder_add(&builder, "{sv}", name.c_str(), g_variant_new_string(value.c_str()));
    struct Outcome {
        bool done = false;
        nlohmann::json value;
    } outcome;
    webkit_web_view_call_async_javascript_function(
        view, body.c_str(), static_cast<gssize>(body.size()), g_variant_builder_end(&builder), nullptr, nullptr,
        nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* out = static_cast<Outcome*>(data);
            GError* error = nullptr;
            JSCValue* value =
                webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (value != nullptr) {
                char* json = jsc_value_to_json(value, 0);
                if (json != nullptr) out->value = nlohmann::json::parse(json);
                g_free(json);
                g_object_unref(value);
            }
            if (error != nullptr) {
                ADD_FAILURE() << "script error: " << error->message;
                g_error_free(error);
            }
            out->done = true;
        },
        &outcome);
    EXPECT_TRUE(runUntil([&] { return outcome.done; }));
    return outcome.value;
}

// One registered application for the whole process: GIO registers only one per bus connection.
inline GtkApplication* testApplication() {
    static GtkApplication* const application = [] {
        GtkApplication* made = gtk_application_new("jp.tomoriva.OrvanOffice.Tests", G_APPLICATION_NON_UNIQUE);
        return g_application_register(G_APPLICATION(made), nullptr, nullptr) ? made : nullptr;
    }();
    return application;
}

// Shows `window`, gives it the focus and waits until GTK agrees. Asked again until then, with the X
// server's time: a window manager takes the request only once it manages the window.
bool activate(GtkWindow* window, std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));

inline std::string uriOf(WebKitWebView* view) {
    const char* uri = webkit_web_view_get_uri(view);
    return uri != nullptr ? uri : "";
}

// True once `view` shows `uri` and has finished loading it.
inline bool waitForLoaded(WebKitWebView* view, const std::string& uri) {
    return runUntil([&] { return uriOf(view) == uri && !webkit_web_view_is_loading(view); });
}

}  // namespace orvan::testing
