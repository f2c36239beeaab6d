#pragma once

#include <string>

#include "tools/webapp/Http.h"

namespace orvan::webapp {

// The stand-in's update feed: "/updates/appcast.xml" lists an old release and, second, release
// kUpdateVersion, whose package "/updates/OrvanOffice-<version>.tar.gz" is signed with a test key
// pair of the stand-in's own (never a release key). With "?tampered=1" the feed points at a copy
// of the package with one byte changed, under the same signature.
inline constexpr const char* kUpdateVersion = "99.1";

Response routeUpdates(const Request& request);
// The test key pair's public half, base64, as the tray companion's Info.plist holds it.
std::string updatePublicKey();
// The package's bytes as served.
std::string updatePackage();

}  // namespace orvan::webapp
