#include "tools/webapp/Form.h"

#include <libsoup/soup.h>

#include "tools/webapp/GRef.h"

namespace orvan::webapp {

std::map<std::string, std::string> decodeForm(const std::string& encoded)
{
    std::map<std::string, std::string> fields;
    if (encoded.empty())
        return fields;
    HashTablePtr table{soup_form_decode(encoded.c_str())};
    if (!table)
        return fields;
    GHashTableIter iter;
    gpointer key = nullptr;
    gpointer value = nullptr;
    g_hash_table_iter_init(&iter, table.get());
    while (g_hash_table_iter_next(&iter, &key, &value))
        fields.emplace(static_cast<const char*>(key), value ? static_cast<const char*>(value) : "");
    return fields;
}

std::string percentEncode(std::string_view text)
{
    const std::string copy(text);
    CharPtr escaped{g_uri_escape_string(copy.c_str(), nullptr, FALSE)};
    return escaped ? std::string(escaped.get()) : std::string();
}

std::string percentDecode(const std::string& text)
{
    CharPtr decoded{g_uri_unescape_string(text.c_str(), nullptr)};
    return decoded ? std::string(decoded.get()) : text;
}

}  // namespace orvan::webapp
