#pragma once
// The message boxes of the system's flows, shown through the platform's dialogs with the
// application's caption.
#include <cstdint>
#include <string_view>

namespace tarvex {

inline constexpr char16_t kApplicationCaption[] = u"Tarvex";
inline constexpr int kStringBusyRefusal = 247;  // "There is a process running! ..."

// An OK box with the application's caption; returns the answer.
int ShowMessage(std::u16string_view text, uint32_t type = 0);
// The same with a resource string of the UI language.
int ShowResourceMessage(int stringId, uint32_t type = 0);
// The refusal of every action while a background operation runs (string 247).
void ShowBusyRefusal();

}  // namespace tarvex
