#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/webapp/Http.h"

namespace orvan::webapp {

struct UploadedFile {
    std::string name;
    std::size_t size = 0;
    std::string bytes;
};

// The files a POST carries: every file part of a multipart/form-data body, or the raw body named
// by an X-File-Name header (percent-decoded, since header values cannot hold Japanese names).
// Empty when the request carries no named file.
std::vector<UploadedFile> uploadedFiles(const Request& request);

}  // namespace orvan::webapp
