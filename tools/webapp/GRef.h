#pragma once

#include <memory>

#include <glib-object.h>
#include <libsoup/soup.h>

namespace orvan::webapp {

// Owning pointers for the GLib and libsoup objects this folder touches, so no path forgets an unref.
struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct GBytesUnref {
    void operator()(GBytes* bytes) const { g_bytes_unref(bytes); }
};
struct GHashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
struct SoupHeadersUnref {
    void operator()(SoupMessageHeaders* headers) const { soup_message_headers_unref(headers); }
};
struct SoupMultipartFree {
    void operator()(SoupMultipart* multipart) const { soup_multipart_free(multipart); }
};

template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;
using BytesPtr = std::unique_ptr<GBytes, GBytesUnref>;
using HashTablePtr = std::unique_ptr<GHashTable, GHashTableUnref>;
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;
using CharPtr = std::unique_ptr<char, GFree>;
using HeadersPtr = std::unique_ptr<SoupMessageHeaders, SoupHeadersUnref>;
using MultipartPtr = std::unique_ptr<SoupMultipart, SoupMultipartFree>;

}  // namespace orvan::webapp
