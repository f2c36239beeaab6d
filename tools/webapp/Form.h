#pragma once

#include <map>
#include <string>
#include <string_view>

namespace orvan::webapp {

// Decodes application/x-www-form-urlencoded text (also query strings); a repeated name keeps one value.
std::map<std::string, std::string> decodeForm(const std::string& encoded);

// Percent-encodes everything outside the unreserved set, for a value placed in a URL.
std::string percentEncode(std::string_view text);

// Undoes percent-encoding; text that does not decode (a stray "%") is returned unchanged.
std::string percentDecode(const std::string& text);

}  // namespace orvan::webapp
