#include "app/ui_language.h"

#include "app/trace.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace tarvex {

int32_t UiLanguageId = 0;
char16_t OsLanguageTag[6] = {};

namespace {
constexpr uint32_t kLangTraditionalChinese = 0x0404;
constexpr uint32_t kLangSimplifiedChinese = 0x0804;
constexpr uint32_t kLangKorean = 0x0412;
}  // namespace

uint16_t UserDefaultUILanguage() {
    platform::System& system = *platform::Current().system;
    const auto id = static_cast<uint16_t>(system.ConvertDefaultLocale(system.GetUserDefaultUILanguage()));
    Trace("UserDefaultUILanguage:0x%04X", static_cast<unsigned>(id));
    return id;
}

const char16_t* LanguageTagFor(uint32_t languageId) {
    if (languageId == kLangTraditionalChinese) {
        return u"zh-TW";
    }
    if (languageId == kLangSimplifiedChinese) {
        return u"zh-CN";
    }
    return u"en-US";
}

const char16_t* FontFaceFor(uint32_t languageId) { return languageId == kLangKorean ? u"Gulim" : u"Ariel"; }

void InitUiLanguage() {
    UiLanguageId = UserDefaultUILanguage();
    platform::CopyToFixed(OsLanguageTag, LanguageTagFor(static_cast<uint32_t>(UiLanguageId)));
}

}  // namespace tarvex
