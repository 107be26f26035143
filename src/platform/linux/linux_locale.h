#pragma once
// The user's language on Linux, as the Windows language id the program chooses its strings by.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex::linuxhost {

// The locale the user's messages come in: LC_ALL, else LC_MESSAGES, else LANG (the first one
// set and not empty), "C" when none is.
std::string MessagesLocale(const std::optional<std::string>& lcAll, const std::optional<std::string>& lcMessages,
                           const std::optional<std::string>& lang);
// The language id of a POSIX locale name ("ko_KR.UTF-8" -> 1042, "zh_TW" -> 1028, "de" ->
// 1031); 1033 (English, United States) for "C", "POSIX" and languages it does not know.
uint16_t UiLanguageOfLocale(std::string_view locale);

}  // namespace tarvex::linuxhost
