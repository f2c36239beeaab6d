#pragma once

#include <memory>

#include <webkit2/webkit2.h>

#include "webhost/RecordingSchemeHandler.h"

namespace orvan {

// Answers "orvan-rec" requests of every web view in `context` with `handler`. The scheme is also
// registered as secure (so an https page may fetch it without mixed-content blocking) and as
// CORS-enabled (so the page's fetch honours the Access-Control-Allow-Origin the handler sends).
// A context accepts a scheme only once: calling again for the same context keeps that registration
// and makes `handler` the one that answers from then on. Main thread only.
void registerRecordingScheme(WebKitWebContext* context, std::shared_ptr<const RecordingSchemeHandler> handler);

}  // namespace orvan
