#include "platform/PrivateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace orvan::private_files {

namespace fs = std::filesystem;

namespace {

std::error_code lastError() { return {errno, std::system_category()}; }

// The tray companion is a module with a copy of this code of its own: the environment is what both
// halves of the process share.
constexpr const char* kUserUmaskVariable = "ORVANOFFICE_USER_UMASK";

// Group and other bits off, owner bits kept; a symbolic link (also one put there meanwhile) is left alone.
void tightenOne(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || S_ISLNK(info.st_mode) || (info.st_mode & 077) == 0) return;
    (void)::fchmodat(AT_FDCWD, path.c_str(), info.st_mode & 0700, AT_SYMLINK_NOFOLLOW);
}

}  // namespace

std::error_code createDirectories(const fs::path& dir) {
    std::error_code error;
    const fs::path absolute = fs::absolute(dir, error).lexically_normal();
    if (error) return error;
    fs::path prefix;
    for (const auto& part : absolute) {
        prefix /= part;
        if (part.empty()) continue;
        if (::mkdir(prefix.c_str(), 0700) == 0) {
            // mkdir(2) applies the umask: the mode is set again without it.
            if (::chmod(prefix.c_str(), 0700) != 0) return lastError();
        } else if (errno != EEXIST) {
            return lastError();
        }
    }
    if (!fs::is_directory(absolute, error)) return error ? error : std::make_error_code(std::errc::not_a_directory);
    return {};
}

int open(const fs::path& file, int flags) {
    const int fd = ::open(file.c_str(), flags | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return -1;
    if (::fchmod(fd, 0600) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

std::error_code create(const fs::path& file) {
    const int fd = open(file, O_WRONLY | O_TRUNC);
    if (fd < 0) return lastError();
    ::close(fd);
    return {};
}

std::error_code writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return lastError();
        if (written == 0) return std::make_error_code(std::errc::no_space_on_device);
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

void tighten(const fs::path& root) {
    // A folder already the user's alone was done before (or made so): nobody else can reach into it,
    // and start-up need not walk it. Hence it is tightened last.
    struct stat info {};
    if (::lstat(root.c_str(), &info) != 0 || (info.st_mode & 077) == 0) return;
    std::error_code error;
    for (fs::recursive_directory_iterator entry(root, fs::directory_options::skip_permission_denied, error), end;
         !error && entry != end; entry.increment(error)) {
        tightenOne(entry->path());
    }
    tightenOne(root);
}

void keepPrivate(const std::vector<fs::path>& applicationFolders) {
    const mode_t user = ::umask(077);
    char text[8];
    std::snprintf(text, sizeof text, "%03o", static_cast<unsigned>(user & 0777));
    ::setenv(kUserUmaskVariable, text, 1);
    for (const auto& folder : applicationFolders) tighten(folder);
}

std::optional<mode_t> userUmask() {
    const char* text = std::getenv(kUserUmaskVariable);
    if (text == nullptr || *text == '\0') return std::nullopt;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 8);
    if (*end != '\0' || value > 0777) return std::nullopt;
    return static_cast<mode_t>(value);
}

}  // namespace orvan::private_files
