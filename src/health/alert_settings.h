#pragma once
// The alert thresholds the monitoring service reads, as the Diagnostics page edits them.
#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvex {

inline constexpr int kDefaultTemperatureAlert = 70;
inline constexpr int kDefaultLifeAlert = 10;

// An Apply text as a signed decimal number: leading blanks and a sign allowed, an empty
// text reads as 0; nothing when any character is left over (the page then shows
// "error input" and stores nothing).
std::optional<int32_t> ParseAlertInput(std::u16string_view text);

// The values the page shows: a missing temperature as 70, a missing life as 10, a life above
// 100 as 100.
int ShownTemperatureAlert();
int ShownLifeAlert();

}  // namespace tarvex
