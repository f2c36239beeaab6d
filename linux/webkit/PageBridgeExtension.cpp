// Runs in the web process. Gives the shell's script world, in the top frame only, the one native
// function its relay posts through, and carries each message to the UI process as a user message
// (GVariant text): the UI process then needs no JavaScript engine of its own for the page's
// messages, where script-message handlers would make it build one for the first message's body.
#include <webkit2/webkit-web-extension.h>

#include <memory>

#include "linux/glib/GObjectPtr.h"
#include "linux/webkit/PageBridgeMessages.h"

namespace {

using orvan::GObjectPtr;
using orvan::kBridgeRequestName;
constexpr const char* kPostFunction = "__orvanPost";

WebKitWebExtension* extension = nullptr;
WebKitScriptWorld* shellWorld = nullptr;

// The page's callback, called exactly once with the reply's kind and text.
class PendingPost {
public:
    explicit PendingPost(JSCValue* callback) : callback_(GObjectPtr<JSCValue>::retain(callback)) {}
    void answer(const char* kind, const char* text) {
        auto result = GObjectPtr<JSCValue>::take(
            jsc_value_function_call(callback_.get(), G_TYPE_STRING, kind, G_TYPE_STRING, text, G_TYPE_NONE));
    }

private:
    GObjectPtr<JSCValue> callback_;
};

void onReply(GObject* source, GAsyncResult* result, gpointer data) {
    const std::unique_ptr<PendingPost> pending(static_cast<PendingPost*>(data));
    g_autoptr(GError) error = nullptr;
    auto reply = GObjectPtr<WebKitUserMessage>::take(
        webkit_web_page_send_message_to_view_finish(WEBKIT_WEB_PAGE(source), result, &error));
    GVariant* parameters = reply ? webkit_user_message_get_parameters(reply.get()) : nullptr;
    if (parameters != nullptr && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ss)"))) {
        const char* kind = nullptr;
        const char* text = nullptr;
        g_variant_get(parameters, "(&s&s)", &kind, &text);
        pending->answer(kind, text);
    } else {
        // The view went away or did not answer: the page's call still settles.
        pending->answer("error", error != nullptr ? error->message : "no reply");
    }
}

// __orvanPost(channel, text, callback): callback(kind, text) once, kind "string", "null", "none"
// or "error".
void post(const char* channel, const char* text, JSCValue* callback, gpointer pageIdentifier) {
    if (channel == nullptr || text == nullptr || callback == nullptr || !jsc_value_is_function(callback)) return;
    auto pending = std::make_unique<PendingPost>(callback);
    WebKitWebPage* page =
        webkit_web_extension_get_page(extension, static_cast<guint64>(reinterpret_cast<guintptr>(pageIdentifier)));
    if (page == nullptr) {
        pending->answer("error", "no page");
        return;
    }
    // The message is floating: the call takes it.
    WebKitUserMessage* message = webkit_user_message_new(kBridgeRequestName, g_variant_new("(ss)", channel, text));
    webkit_web_page_send_message_to_view(page, message, nullptr, &onReply, pending.release());
}

// Every new document of every frame clears the page world's window first, before any script runs;
// only a top frame gets the function, and only in the shell's world, which the page cannot reach.
// A document of an opaque origin (the shell's own error page, about:blank) gets none either: no
// web application runs there.
void onWindowObjectCleared(WebKitScriptWorld*, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
    if (!webkit_frame_is_main_frame(frame)) return;
    auto context = GObjectPtr<JSCContext>::take(webkit_frame_get_js_context_for_script_world(frame, shellWorld));
    auto origin = GObjectPtr<JSCValue>::take(jsc_context_evaluate(context.get(), "self.origin", -1));
    g_autofree char* originText = origin ? jsc_value_to_string(origin.get()) : nullptr;
    if (originText == nullptr || (!g_str_has_prefix(originText, "https://") && !g_str_has_prefix(originText, "http://"))) {
        return;
    }
    const auto pageIdentifier = reinterpret_cast<gpointer>(static_cast<guintptr>(webkit_web_page_get_id(page)));
    auto function = GObjectPtr<JSCValue>::take(jsc_value_new_function(context.get(), kPostFunction, G_CALLBACK(&post),
                                                                      pageIdentifier, nullptr, G_TYPE_NONE, 3,
                                                                      G_TYPE_STRING, G_TYPE_STRING, JSC_TYPE_VALUE));
    jsc_context_set_value(context.get(), kPostFunction, function.get());
}

}  // namespace

// The UI process passes the shell world's name.
extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(WebKitWebExtension* webExtension,
                                                                               const GVariant* data) {
    if (data == nullptr || !g_variant_is_of_type(const_cast<GVariant*>(data), G_VARIANT_TYPE_STRING)) return;
    extension = webExtension;
    shellWorld = webkit_script_world_new_with_name(g_variant_get_string(const_cast<GVariant*>(data), nullptr));
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(&onWindowObjectCleared),
                     nullptr);
}
