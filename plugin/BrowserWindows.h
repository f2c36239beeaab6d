#pragma once

#include <string>
#include <string_view>

namespace orvan {

// An X11 window's class and name in the terms of the meeting detector: the owner as the browser's
// product name, and the title as the page's own title.
namespace BrowserWindows {

// "Google-chrome" → "Google Chrome", "firefox-esr" → "Firefox", …; any other class is kept as it is.
std::string ownerName(std::string_view windowClass);

// The window name without the browser's own suffix (" - Google Chrome", " — Mozilla Firefox", with a
// profile name after it or not). Titles of other owners are returned unchanged.
std::string pageTitle(std::string_view owner, std::string_view windowName);

}  // namespace BrowserWindows
}  // namespace orvan
