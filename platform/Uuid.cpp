#include "platform/Uuid.h"

#include <glib.h>

namespace orvan {

std::string randomUUID() {
    char* uuid = g_uuid_string_random();
    std::string text(uuid);
    g_free(uuid);
    return text;
}

}  // namespace orvan
