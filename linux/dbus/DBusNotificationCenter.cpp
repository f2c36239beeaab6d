#include "linux/dbus/DBusNotificationCenter.h"

#include "linux/dbus/DBusNotificationState.h"

namespace orvan {

using namespace notification_server;

void DBusNotificationCenter::State::add(NotificationRequest request) {
    if (closed) return;
    if (bus == Bus::connecting) {
        waitingForBus.push_back([request = std::move(request)](State& s) mutable { s.add(std::move(request)); });
        return;
    }
    // Without a bus there is nowhere to post; that was logged once when the bus failed.
    if (bus == Bus::missing) return;
    // Posted again after it was taken away: the newer one stands.
    withdrawn.erase(request.identifier);
    if (markup == Markup::unknown || markup == Markup::probing) {
        waitingForCapabilities.push_back(std::move(request));
        probeCapabilities();
        return;
    }
    // The replaced id only exists once the earlier Notify has answered; until then the newer
    // request waits, and only the newest one is worth showing.
    if (inFlight.contains(request.identifier)) {
        nextByIdentifier.insert_or_assign(request.identifier, std::move(request));
        return;
    }
    notify(std::move(request));
}

void DBusNotificationCenter::State::probeCapabilities() {
    if (markup == Markup::probing) return;
    markup = Markup::probing;
    call("GetCapabilities", nullptr, G_VARIANT_TYPE("(as)"), kProbeTimeoutMs,
         [](State& s, GVariant* reply, const GError*) {
             // No answer: plain text, the safe reading. The Notify that follows logs the failure.
             bool bodyMarkup = false;
             if (reply != nullptr) {
                 const gchar** capabilities = nullptr;
                 g_variant_get(reply, "(^a&s)", &capabilities);
                 std::unique_ptr<const gchar*, GFreeDeleter> owned(capabilities);
                 for (const gchar** c = capabilities; c != nullptr && *c != nullptr; ++c) {
                     if (g_strcmp0(*c, "body-markup") == 0) bodyMarkup = true;
                 }
             }
             s.markup = bodyMarkup ? Markup::yes : Markup::no;
             auto waiting = std::move(s.waitingForCapabilities);
             s.waitingForCapabilities.clear();
             for (auto& request : waiting) s.add(std::move(request));
         });
}

void DBusNotificationCenter::State::notify(NotificationRequest request) {
    const auto known = idByIdentifier.find(request.identifier);
    const std::uint32_t replacesId = known != idByIdentifier.end() ? known->second : 0;

    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(kDesktopEntry));
    if (request.sound) {
        g_variant_builder_add(&hints, "{sv}", "sound-name", g_variant_new_string(kSoundName));
    } else {
        g_variant_builder_add(&hints, "{sv}", "suppress-sound", g_variant_new_boolean(TRUE));
    }
    // A server that renders markup would otherwise read "&" or "<" in the text as markup.
    std::string body = request.body.value_or("");
    if (markup == Markup::yes) {
        std::unique_ptr<gchar, GFreeDeleter> escaped(g_markup_escape_text(body.c_str(), -1));
        body = escaped.get();
    }
    // The body opens the notification; each button is a pair of its identifier and its title.
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE_STRING_ARRAY);
    g_variant_builder_add(&actions, "s", kDefaultAction);
    g_variant_builder_add(&actions, "s", "");
    std::set<std::string> buttons;
    for (const NotificationAction& action : request.actions) {
        if (action.identifier == kDefaultAction) continue;
        g_variant_builder_add(&actions, "s", action.identifier.c_str());
        g_variant_builder_add(&actions, "s", action.title.c_str());
        buttons.insert(action.identifier);
    }

    GVariant* parameters = g_variant_new("(susssasa{sv}i)", kAppName, replacesId, kDesktopEntry,
                                         request.title.c_str(), body.c_str(), &actions, &hints, -1);
    inFlight.insert(request.identifier);
    call("Notify", parameters, G_VARIANT_TYPE("(u)"), -1,
         [posted = Posted{std::move(request.identifier), std::move(request.userInfo), std::move(buttons)}](
             State& s, GVariant* reply, const GError* error) mutable { s.notified(std::move(posted), reply, error); });
}

void DBusNotificationCenter::State::notified(Posted made, GVariant* reply, const GError* error) {
    const std::string identifier = made.identifier;
    inFlight.erase(identifier);
    if (withdrawn.erase(identifier) != 0) {
        // Taken away while it was being posted: it goes as soon as it has an id.
        if (reply != nullptr) {
            std::uint32_t id = 0;
            g_variant_get(reply, "(u)", &id);
            close(id);
        }
        nextByIdentifier.erase(identifier);
        return;
    }
    if (reply != nullptr) {
        std::uint32_t id = 0;
        g_variant_get(reply, "(u)", &id);
        remember(id, std::move(made));
    } else {
        logFailure("Notify failed", error);
    }
    if (auto next = nextByIdentifier.find(identifier); next != nextByIdentifier.end()) {
        NotificationRequest request = std::move(next->second);
        nextByIdentifier.erase(next);
        add(std::move(request));
    }
}

void DBusNotificationCenter::State::remove(const std::string& identifier) {
    if (closed) return;
    if (bus == Bus::connecting) {
        waitingForBus.push_back([identifier](State& s) { s.remove(identifier); });
        return;
    }
    std::erase_if(waitingForCapabilities, [&](const NotificationRequest& r) { return r.identifier == identifier; });
    nextByIdentifier.erase(identifier);
    if (inFlight.contains(identifier)) {
        withdrawn.insert(identifier);
        return;
    }
    auto known = idByIdentifier.find(identifier);
    if (known == idByIdentifier.end()) return;
    const std::uint32_t id = known->second;
    forget(id);
    close(id);
}

void DBusNotificationCenter::State::close(std::uint32_t id) {
    call("CloseNotification", g_variant_new("(u)", id), nullptr, -1, [](State&, GVariant*, const GError* error) {
        if (error != nullptr) logFailure("CloseNotification failed", error);
    });
}

void DBusNotificationCenter::State::remember(std::uint32_t id, Posted made) {
    const std::string identifier = made.identifier;
    // The identifier's earlier notification is gone if the server gave the new one another id.
    if (auto earlier = idByIdentifier.find(identifier); earlier != idByIdentifier.end() && earlier->second != id) {
        posted.erase(earlier->second);
        tokens.erase(earlier->second);
    }
    // A server that hands out an id again has forgotten whatever it stood for.
    if (auto reused = posted.find(id); reused != posted.end() && reused->second.identifier != identifier) {
        idByIdentifier.erase(reused->second.identifier);
    }
    idByIdentifier[identifier] = id;
    posted[id] = std::move(made);
}

void DBusNotificationCenter::State::forget(std::uint32_t id) {
    auto entry = posted.find(id);
    if (entry == posted.end()) return;
    if (auto mapped = idByIdentifier.find(entry->second.identifier);
        mapped != idByIdentifier.end() && mapped->second == id) {
        idByIdentifier.erase(mapped);
    }
    posted.erase(entry);
    tokens.erase(id);
}

DBusNotificationCenter::DBusNotificationCenter() : state_(std::make_shared<State>()) { state_->connect(nullptr); }

DBusNotificationCenter::DBusNotificationCenter(const std::string& busAddress) : state_(std::make_shared<State>()) {
    state_->connect(&busAddress);
}

DBusNotificationCenter::~DBusNotificationCenter() { state_->shutdown(); }

void DBusNotificationCenter::add(const NotificationRequest& request) { state_->add(request); }

void DBusNotificationCenter::remove(const std::string& identifier) { state_->remove(identifier); }

void DBusNotificationCenter::authorization(std::function<void(NotificationAuthorization)> completion) {
    state_->checkServer([completion = std::move(completion)](bool answered) {
        if (!completion) return;
        completion(answered ? NotificationAuthorization::authorized : NotificationAuthorization::denied);
    });
}

void DBusNotificationCenter::requestAuthorization(std::function<void(bool granted)> completion) {
    // Freedesktop servers never ask the user: granted is simply "a server is there".
    state_->checkServer([completion = std::move(completion)](bool answered) {
        if (completion) completion(answered);
    });
}

void DBusNotificationCenter::setResponseHandler(std::function<void(const NotificationResponse&)> handler) {
    state_->responseHandler = std::move(handler);
}

}  // namespace orvan
