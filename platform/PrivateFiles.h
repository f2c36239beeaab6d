#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

// Everything the shell writes for the user is readable by that user alone: directories 0700 and
// files 0600, set explicitly, so the process's umask never loosens them.
namespace orvan::private_files {

// Creates `dir` and whichever of its parents are missing, each one made here 0700. Directories that
// already exist are left as they are.
std::error_code createDirectories(const std::filesystem::path& dir);

// Opens `file` for writing with open(2)'s `flags` added (O_TRUNC, O_EXCL, ...), creating it when
// missing; a new or existing file is then 0600. Never follows a symbolic link in its last component.
// The descriptor, or -1 with errno set.
int open(const std::filesystem::path& file, int flags);

// Creates (or empties) `file` as a private file, for a library that then opens it by name and keeps
// the mode it finds.
std::error_code create(const std::filesystem::path& file);

// Writes all of `bytes` at `fd`'s position, across short writes and interruptions; a disk that takes
// nothing more is ENOSPC.
std::error_code writeAll(int fd, std::string_view bytes);

// Takes group and other permissions away from everything under `root` (and `root` itself) that an
// earlier version left readable; symbolic links are neither followed nor changed. A `root` that is
// already private is left alone: nobody else can reach into it.
void tighten(const std::filesystem::path& root);

// From now on whatever this process and the processes it starts create is private (umask 077),
// and the application's folders as earlier versions left them are tightened. The umask it replaces
// is kept for userUmask().
void keepPrivate(const std::vector<std::filesystem::path>& applicationFolders);

// The umask the user started the shell with, for programs started on the user's behalf (a browser,
// an installer), whose files are the user's own business; nothing when keepPrivate never replaced it.
std::optional<mode_t> userUmask();

}  // namespace orvan::private_files
