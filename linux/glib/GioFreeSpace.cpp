#include "linux/glib/GioFreeSpace.h"

#include <gio/gio.h>

#include "linux/glib/GObjectPtr.h"

namespace orvan {

std::optional<std::uint64_t> GioFreeSpace::availableBytes(const std::filesystem::path& path) {
    auto file = GObjectPtr<GFile>::take(g_file_new_for_path(path.c_str()));
    auto info = GObjectPtr<GFileInfo>::take(
        g_file_query_filesystem_info(file.get(), G_FILE_ATTRIBUTE_FILESYSTEM_FREE, nullptr, nullptr));
    if (!info || !g_file_info_has_attribute(info.get(), G_FILE_ATTRIBUTE_FILESYSTEM_FREE)) return std::nullopt;
    return g_file_info_get_attribute_uint64(info.get(), G_FILE_ATTRIBUTE_FILESYSTEM_FREE);
}

}  // namespace orvan
