#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/MeetingPopupView.h"

namespace orvan::MeetingPopupPlacement {

inline constexpr double kWidth = 340;
inline constexpr double kHeight = 104;
// The user-defaults key of the remembered origin.
inline constexpr const char* kOriginKey = "meetingPopupOrigin";

// "{x, y}", and back; anything else reads as no point.
std::string pointString(PopupPoint point);
std::optional<PopupPoint> parsePoint(std::string_view text);

// Where a newly built panel goes: the remembered origin while it lies within some monitor's work
// area enlarged by half the panel's size, otherwise the primary monitor's bottom-right corner,
// 24 from the right and 72 above the bottom. None when there is no monitor at all.
std::optional<PopupPoint> origin(const std::optional<std::string>& remembered, const std::vector<PopupScreen>& screens);

}  // namespace orvan::MeetingPopupPlacement
