#pragma once

#include <filesystem>
#include <string_view>

namespace orvan {

// The command that starts `executable` the way it is installed: the first program of the
// executable's own name, in an absolute directory of `searchPath` (a $PATH value), that is the
// same file (a package's /usr/bin/orvanoffice, a link into the bundle); else `executable` itself.
// What outlives the bundle's inner layout is the command, so that is what the desktop is told.
std::filesystem::path installedCommand(const std::filesystem::path& executable, std::string_view searchPath);

}  // namespace orvan
