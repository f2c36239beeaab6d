#pragma once

#include <string>

namespace orvan {

// A new random UUID in its lower-case text form.
std::string randomUUID();

}  // namespace orvan
