#include "tools/webapp/Upload.h"

#include <libsoup/soup.h>

#include "tools/webapp/Form.h"
#include "tools/webapp/GRef.h"

namespace orvan::webapp {
namespace {

std::vector<UploadedFile> multipartFiles(const std::string& contentType, const std::string& body)
{
    std::vector<UploadedFile> files;
    HeadersPtr headers{soup_message_headers_new(SOUP_MESSAGE_HEADERS_MULTIPART)};
    soup_message_headers_replace(headers.get(), "Content-Type", contentType.c_str());
    BytesPtr bytes{g_bytes_new(body.data(), body.size())};
    MultipartPtr multipart{soup_multipart_new_from_message(headers.get(), bytes.get())};
    if (!multipart)
        return files;
    const int count = soup_multipart_get_length(multipart.get());
    for (int i = 0; i < count; ++i) {
        SoupMessageHeaders* partHeaders = nullptr;  // owned by the multipart
        GBytes* partBody = nullptr;                 // owned by the multipart
        if (!soup_multipart_get_part(multipart.get(), i, &partHeaders, &partBody))
            continue;
        char* disposition = nullptr;
        GHashTable* params = nullptr;
        if (!soup_message_headers_get_content_disposition(partHeaders, &disposition, &params))
            continue;
        CharPtr dispositionOwner{disposition};
        HashTablePtr paramsOwner{params};
        const auto* filename = params ? static_cast<const char*>(g_hash_table_lookup(params, "filename")) : nullptr;
        // Plain form fields have no filename and are not recordings.
        if (!filename)
            continue;
        std::string content;
        if (partBody) {
            gsize size = 0;
            const auto* data = static_cast<const char*>(g_bytes_get_data(partBody, &size));
            content.assign(data != nullptr ? data : "", size);
        }
        files.push_back({filename, content.size(), std::move(content)});
    }
    return files;
}

}  // namespace

std::vector<UploadedFile> uploadedFiles(const Request& request)
{
    const auto contentType = request.header("Content-Type");
    if (contentType && g_ascii_strncasecmp(contentType->c_str(), "multipart/form-data", 19) == 0)
        return multipartFiles(*contentType, request.body);
    const auto name = request.header("X-File-Name");
    if (!name || name->empty())
        return {};
    return {{percentDecode(*name), request.body.size(), request.body}};
}

}  // namespace orvan::webapp
