// The C runtime's locale on the emulated PC: "" is the user's locale of the PC (from its UI
// language, or the profile's `locale`), never the host's.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "platform/sim/machine_profile.h"
#include "support/test_machine.h"

namespace tarvex::test {
namespace {

using platform::kLcAll;
using platform::kLcCtype;
using platform::kLcTime;

nlohmann::json WithLanguage(int language) {
    nlohmann::json profile = BaseProfile();
    profile["uiLanguage"] = language;
    return profile;
}

TEST(SimLocale, TheEmptyNameIsTheUserLocaleOfTheUiLanguage) {
    const std::string hostBefore = std::setlocale(LC_ALL, nullptr);
    struct Case {
        int language;
        const char* locale;
    };
    for (const Case& c : {Case{1033, "English_United States.1252"}, Case{1042, "Korean_Korea.949"},
                          Case{1041, "Japanese_Japan.932"}, Case{1028, "Chinese (Traditional)_Taiwan.950"},
                          Case{2052, "Chinese (Simplified)_People's Republic of China.936"},
                          Case{1049, "Russian_Russia.1251"}, Case{1031, "English_United States.1252"},
                          Case{2057, "English_United States.1252"}}) {
        TestMachine m(WithLanguage(c.language));
        auto& system = m->System();
        EXPECT_EQ(system.SetLocale(kLcAll, std::nullopt), "C") << "a program starts in the C locale";
        EXPECT_EQ(system.SetLocale(kLcAll, u""), c.locale) << c.language;
        EXPECT_EQ(system.SetLocale(kLcAll, std::nullopt), c.locale) << "recorded";
        EXPECT_EQ(system.SetLocale(kLcTime, std::nullopt), c.locale) << "for every category";
    }
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), hostBefore) << "the host's locale is left alone";
}

TEST(SimLocale, ExplicitNamesCategoriesAndRefusals) {
    TestMachine m(WithLanguage(1042));
    auto& system = m->System();
    EXPECT_EQ(system.SetLocale(kLcAll, u"japanese_japan.932"), "Japanese_Japan.932") << "any case, named canonically";
    EXPECT_EQ(system.SetLocale(kLcAll, u"Klingon_Qo'noS.1"), std::nullopt) << "unknown";
    EXPECT_EQ(system.SetLocale(kLcAll, u"Japanese"), std::nullopt);
    EXPECT_EQ(system.SetLocale(kLcAll, std::nullopt), "Japanese_Japan.932") << "a refused name changes nothing";
    EXPECT_EQ(system.SetLocale(kLcAll, u"C"), "C");

    // One category: LC_ALL then names each category.
    EXPECT_EQ(system.SetLocale(kLcCtype, u""), "Korean_Korea.949");
    EXPECT_EQ(system.SetLocale(kLcAll, std::nullopt),
              "LC_COLLATE=C;LC_CTYPE=Korean_Korea.949;LC_MONETARY=C;LC_NUMERIC=C;LC_TIME=C");
    EXPECT_EQ(system.SetLocale(kLcTime, std::nullopt), "C");
    EXPECT_EQ(system.SetLocale(kLcAll, u""), "Korean_Korea.949") << "all the same again: one name";
    EXPECT_EQ(system.SetLocale(6, u""), std::nullopt);
    EXPECT_EQ(system.SetLocale(-1, std::nullopt), std::nullopt);
    EXPECT_EQ(system.SetLocale(kLcAll, std::nullopt), "Korean_Korea.949");
}

TEST(SimLocale, TheProfileMayGiveAUserLocaleOtherThanTheLanguages) {
    nlohmann::json profile = WithLanguage(1033);
    profile["locale"] = "German_Germany.1252";
    TestMachine m(profile);
    EXPECT_EQ(m->System().UserLocale(), "German_Germany.1252");
    EXPECT_EQ(m->System().SetLocale(kLcAll, u""), "German_Germany.1252");
    EXPECT_EQ(m->System().SetLocale(kLcAll, u"C"), "C");
    EXPECT_EQ(m->System().SetLocale(kLcAll, u"German_Germany.1252"), "German_Germany.1252") << "known by name too";

    for (const char* bad : {"", "German", "German_Germany", "_Germany.1252", "German_.1252", "German_Germany.",
                            "German_Germany.12a", "LC_ALL=German_Germany.1252", "Deutsch_\xc3\x96sterreich.1252"}) {
        profile["locale"] = bad;
        const auto loaded = sim::LoadMachineProfile(profile.dump(), "test", "test.json");
        EXPECT_FALSE(loaded.profile) << bad;
        EXPECT_NE(loaded.error.find("test.json: $.locale: expected a locale name"), std::string::npos) << loaded.error;
    }
}

}  // namespace
}  // namespace tarvex::test
