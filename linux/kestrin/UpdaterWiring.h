#pragma once

#include <filesystem>
#include <memory>

#include "plugin/UpdateController.h"

namespace orvan {

// The update controller on its Linux adapters, configured by the bundle's Info.plist; none when
// the bundle names no feed.
std::shared_ptr<UpdateController> makeUpdateController(const std::filesystem::path& infoPlist);

}  // namespace orvan
