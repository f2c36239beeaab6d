#include "webhost/PageScripts.h"

#include <nlohmann/json.hpp>

#include "app/AppConfig.h"
#include "webhost/EmbeddedScripts.h"

namespace orvan {

namespace {

// Replaces every `placeholder` with `value` written as a JavaScript string literal.
void insertString(std::string& source, const std::string& placeholder, const std::string& value) {
    const std::string literal = nlohmann::json(value).dump();
    for (auto at = source.find(placeholder); at != std::string::npos; at = source.find(placeholder, at + literal.size())) {
        source.replace(at, placeholder.size(), literal);
    }
}

}  // namespace

std::string PageScripts::messageRelay(const std::string& appOrigin) {
    std::string source = embedded::kMessageRelayScript;
    insertString(source, "__ORVAN_APP_ORIGIN__", appOrigin);
    return source;
}

std::string PageScripts::mobileBridge(const std::string& appOrigin) {
    std::string source = embedded::kMobileBridgeScript;
    insertString(source, "__ORVAN_APP_ORIGIN__", appOrigin);
    insertString(source, "__ORVAN_RECORDING_SCHEME__", kRecordingScheme);
    insertString(source, "__ORVAN_GOOGLE_SIGN_IN_HOST__", AppConfig::kIdentitySignInHost);
    insertString(source, "__ORVAN_GOOGLE_DOMAIN__", AppConfig::kIdentityMainDomain);
    insertString(source, "__ORVAN_AUTH_BACKEND_SUFFIX__", AppConfig::kAuthBackendSuffix);
    return source;
}

std::string PageScripts::shellPage(const std::string& appOrigin, std::chrono::milliseconds pollInterval) {
    std::string source = embedded::kShellPageScript;
    insertString(source, "__ORVAN_APP_ORIGIN__", appOrigin);
    const std::string placeholder = "__ORVAN_POLL_MS__";
    source.replace(source.find(placeholder), placeholder.size(), std::to_string(pollInterval.count()));
    return source;
}

}  // namespace orvan
