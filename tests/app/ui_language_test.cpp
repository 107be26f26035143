#include <gtest/gtest.h>

#include "app/trace.h"
#include "app/ui_language.h"
#include "platform/text.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

TEST(UiLanguage, TagAndFontFollowTheLanguage) {
    const struct {
        int language;
        uint16_t id;
        const char16_t* tag;
        const char16_t* font;
    } cases[] = {
        {1033, 1033, u"en-US", u"Ariel"}, {1042, 1042, u"en-US", u"Gulim"}, {1028, 1028, u"zh-TW", u"Ariel"},
        {2052, 2052, u"zh-CN", u"Ariel"}, {1041, 1041, u"en-US", u"Ariel"}, {1049, 1049, u"en-US", u"Ariel"},
        // A neutral Chinese UI language becomes the PRC form before the tag is chosen.
        {0x0004, 2052, u"zh-CN", u"Ariel"},
    };
    for (const auto& c : cases) {
        nlohmann::json profile = test::BaseProfile();
        profile["uiLanguage"] = c.language;
        test::TestMachine m(profile);
        InitUiLanguage();
        EXPECT_EQ(UiLanguageId, c.id) << c.language;
        EXPECT_EQ(platform::FixedText(OsLanguageTag), c.tag) << c.language;
        EXPECT_EQ(std::u16string(FontFaceFor(static_cast<uint32_t>(UiLanguageId))), c.font) << c.language;
    }
}

TEST(UiLanguage, IdentifierIsTraced) {
    nlohmann::json profile = test::BaseProfile();
    profile["uiLanguage"] = 1042;
    test::TestMachine m(profile);
    ResetTraceForTesting();
    SetTraceLevel(1);
    EXPECT_EQ(UserDefaultUILanguage(), 0x0412);
    SetTraceLevel(0);
    ResetTraceForTesting();
    EXPECT_NE(test::ReadHostFile(m.Host(u"C:\\Tools\\Tarvex.log")).find(" UserDefaultUILanguage:0x0412\r\n"),
              std::string::npos);
}

}  // namespace
}  // namespace tarvex
