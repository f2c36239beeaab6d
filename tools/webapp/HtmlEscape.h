#pragma once

#include <string>
#include <string_view>

namespace orvan::webapp {

// Escapes & < > " ' so the text is inert both between tags and inside quoted attributes.
std::string escapeHtml(std::string_view text);

}  // namespace orvan::webapp
