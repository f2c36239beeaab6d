#pragma once

// The user messages between the shell's web-process extension and its views: a request carries
// "(ss)" (channel, the relay's stamped JSON text), its reply "(ss)" (kind: "string", "null", "none"
// or "error"; text).
namespace orvan {
inline constexpr const char* kBridgeRequestName = "orvan-bridge";
inline constexpr const char* kBridgeReplyName = "orvan-bridge-reply";
}  // namespace orvan
