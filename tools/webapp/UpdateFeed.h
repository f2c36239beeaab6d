#pragma once

#include <string>

#include "tools/webapp/Http.h"

namespace orvan::webapp {

// The stand-in's update feed: "/updates/appcast.xml" lists an old release and, second, release
// kUpdateVersion, whose package "/updates/OrvanOffice-<version>.tar.gz" is signed with a test key
// pair of the stand-in's own (never a release key). Its release can be turned against the user:
//   ?tampered=1    a copy of the package with one byte changed, under the same signature;
//   ?downgrade=1   the old release's package and signature offered as kUpdateVersion;
//   ?short=1       a declared length one byte short of the package;
//   ?via=<url>     the package's address redirects to <url>.
// "/updates/redirect?to=<url>" answers 302 to <url>; "/updates/huge.xml" is a feed of 1 MiB and a byte.
inline constexpr const char* kUpdateVersion = "99.1";

Response routeUpdates(const Request& request);
// The test key pair's public half, base64, as the tray companion's Info.plist holds it.
std::string updatePublicKey();
// The package's bytes as served.
std::string updatePackage();

}  // namespace orvan::webapp
