#include "linux/dbus/PortalBackgroundLoginItem.h"

#include <stdexcept>

namespace orvan {

bool PortalBackgroundLoginItem::enabled() {
    return remembered_ && remembered_->string(kRememberedKey).value_or("NO") == "YES";
}

void PortalBackgroundLoginItem::setEnabled(bool enabled, Failed failed) {
    if (!bus_) throw std::runtime_error("セッションバスに接続できません");
    GVariantBuilder command;
    g_variant_builder_init(&command, G_VARIANT_TYPE_STRING_ARRAY);
    for (const std::string& word : commandLine_) g_variant_builder_add(&command, "s", word.c_str());
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "reason", g_variant_new_string(reason_.c_str()));
    g_variant_builder_add(&options, "{sv}", "autostart", g_variant_new_boolean(enabled));
    g_variant_builder_add(&options, "{sv}", "commandline", g_variant_builder_end(&command));
    g_variant_builder_add(&options, "{sv}", "dbus-activatable", g_variant_new_boolean(FALSE));
    // Held by the request, which dies with us: the answer never reaches a destroyed item.
    request_ = std::make_unique<PortalRequest>(
        bus_.get(), "org.freedesktop.portal.Background", "RequestBackground", g_variant_new("(s)", ""),
        g_variant_builder_end(&options),
        [this, enabled, failed = std::move(failed)](const PortalAnswer& answer) { answered(enabled, answer, failed); });
}

void PortalBackgroundLoginItem::answered(bool wanted, const PortalAnswer& answer, const Failed& failed) {
    std::string refusal;
    if (!answer.error.empty()) {
        refusal = "デスクトップポータルを呼び出せません: " + answer.error;
    } else if (answer.response == 1) {
        refusal = "ユーザーが許可しませんでした";
    } else if (answer.response != 0) {
        refusal = "デスクトップポータルが要求を終了しました";
    } else {
        // What the desktop will do is what it says it granted, whatever was asked.
        gboolean granted = FALSE;
        if (!g_variant_lookup(answer.results, "autostart", "b", &granted)) granted = FALSE;
        if (remembered_) remembered_->setString(kRememberedKey, granted ? "YES" : "NO");
        if (static_cast<bool>(granted) != wanted) refusal = "自動起動が許可されませんでした";
    }
    if (!refusal.empty() && failed) failed(refusal);
}

}  // namespace orvan
