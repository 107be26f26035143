#pragma once
// The user-interface language: its identifier (which picks the string table and the font)
// and the language tag sent to the update server.
#include <cstdint>

namespace tarvex {

// The LANGID chosen at start-up, held in a 32-bit integer.
extern int32_t UiLanguageId;
// "zh-TW", "zh-CN" or "en-US".
extern char16_t OsLanguageTag[6];

// ConvertDefaultLocale(GetUserDefaultUILanguage()), traced as "UserDefaultUILanguage:0x%04X".
uint16_t UserDefaultUILanguage();
// The tag for a language: "zh-TW" for 1028, "zh-CN" for 2052, "en-US" for every other.
const char16_t* LanguageTagFor(uint32_t languageId);
// The font face: "Gulim" for Korean (1042), "Ariel" for every other language.
const char16_t* FontFaceFor(uint32_t languageId);
// Sets UiLanguageId and OsLanguageTag from the platform.
void InitUiLanguage();

}  // namespace tarvex
