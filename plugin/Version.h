#pragma once

#include <string_view>

namespace orvan {

// Orders version strings component by component ("1.10" > "1.9"; "1.2" == "1.2.0"). Within a
// component the number comes first, then any text after it ("2b" < "2c"; "2" > "2b", since a bare
// number is the release and a suffix a pre-release of it).
// Negative, zero or positive, as `left` is older, the same or newer than `right`.
int compareVersions(std::string_view left, std::string_view right);

}  // namespace orvan
