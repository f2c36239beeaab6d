#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvan::webapp {

// A section of the application reachable from the menu.
struct MenuEntry {
    std::string_view path;
    std::string_view label;
};

// The menu sections, in the order the start page lists them.
const std::vector<MenuEntry>& menuEntries();

// Whether `path` is a menu section or lies under one ("/chat", "/chat/room/1").
bool isMenuPath(std::string_view path);

// Every page names its path in <h1 id="page-path"> and, except the start page, in its title, so
// a test driving the shell can tell which page is shown.
std::string startPage();
std::string sectionPage(std::string_view path);
std::string recordPage(std::string_view path, std::string_view query);
std::string loginPage(const std::optional<std::string>& error);
std::string notFoundPage(std::string_view path);

}  // namespace orvan::webapp
