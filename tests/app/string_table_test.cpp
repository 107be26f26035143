#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "app/string_table.h"
#include "app/ui_language.h"
#include "platform/text.h"

namespace tarvex {
namespace {

std::string Utf8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}

// The format directives and line breaks of a text, in order: "%s", "%d", "%03d", "%%", "\n", ...
std::vector<std::string> Placeholders(std::u16string_view text) {
    const std::string s = Utf8(text);
    std::vector<std::string> out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\n') {
            out.emplace_back("\\n");
        } else if (s[i] == '%') {
            size_t j = i + 1;
            while (j < s.size() &&
                   std::string_view("-+ #0123456789.lh").find(s[j]) != std::string_view::npos) {
                ++j;
            }
            out.push_back(s.substr(i, j < s.size() ? j - i + 1 : j - i));
            i = j;
        }
    }
    return out;
}

TEST(StringTable, EmbeddedTableHasEveryIdInEveryLanguage) {
    ASSERT_EQ(EmbeddedStringTableError(), "");
    for (int id = FirstResourceStringId; id <= LastResourceStringId; ++id) {
        for (uint32_t language : ResourceLanguageIds) {
            EXPECT_FALSE(LoadResourceString(id, language).empty())
                << "id " << id << " language " << language;
        }
    }
    EXPECT_TRUE(LoadResourceString(FirstResourceStringId - 1, 1033).empty());
    EXPECT_TRUE(LoadResourceString(LastResourceStringId + 1, 1033).empty());
    EXPECT_TRUE(LoadResourceString(0, 1033).empty());
    EXPECT_TRUE(LoadResourceString(-1, 2052).empty());
}

TEST(StringTable, TranslationsKeepThePlaceholdersAndLineBreaksOfTheEnglish) {
    for (int id = FirstResourceStringId; id <= LastResourceStringId; ++id) {
        const auto english = Placeholders(LoadResourceString(id, 1033));
        for (uint32_t language : ResourceLanguageIds) {
            EXPECT_EQ(Placeholders(LoadResourceString(id, language)), english)
                << "id " << id << " language " << language << ": "
                << Utf8(LoadResourceString(id, language));
        }
    }
    // The extractor itself: directives and breaks in order, "%%" as one directive.
    EXPECT_EQ(Placeholders(u"Event ID: %03d\n%s 100%% %d"),
              (std::vector<std::string>{"%03d", "\\n", "%s", "%%", "%d"}));
}

TEST(StringTable, TranslationsKeepProductNamesAndTechnicalTerms) {
    const char* const terms[] = {
        "VARNO", "Velmora", "SMART", "SSD", "Trim", "NVMe", "SATA",  "AHCI",
        "BIOS",  "WWN",     "ATA",   "IDE", "RAID", "NTFS", "Win 8", "SECURITY FREEZE LOCK"};
    for (int id = FirstResourceStringId; id <= LastResourceStringId; ++id) {
        const std::string english = Utf8(LoadResourceString(id, 1033));
        for (const char* term : terms) {
            if (english.find(term) == std::string::npos) {
                continue;
            }
            for (uint32_t language : ResourceLanguageIds) {
                EXPECT_NE(Utf8(LoadResourceString(id, language)).find(term), std::string::npos)
                    << "id " << id << " language " << language << " lost \"" << term << "\"";
            }
        }
    }
}

TEST(StringTable, EnglishTextsAreShownAsWritten) {
    const struct {
        int id;
        const char16_t* text;
    } cases[] = {
        {242, u"Drive Info"},
        {243, u"Diagnostics"},
        {244, u"Utilities"},
        {245, u"System \nOptimization"},
        {246, u"System Info"},
        {247, u"There is a process running! Any action is not allowed!"},
        {251, u"WWN"},
        {260, u"There is no recognized partition."},
        {265, u"Driver Version:"},
        // The spelling of the shipped messages is kept, mistakes included.
        {268, u"Diagnotics quick scan is done successsfully!"},
        {273, u"Diagnotics full scan fails!"},
        {282,
         u"This function performs a Trim command on the selected SSD. The run time is several "
         u"minutes. It "
         u"needs a partition to execute."},
        {298,
         u"Security Erase permanently clears all data on the selected SSD so that the data cannot "
         u"be "
         u"recovered.\nThe SSD must be unplugged and plugged in again in order to execute power "
         u"cycle while "
         u"SECURITY FREEZE LOCK is detected.\nThe function cannot run on boot drives or drives "
         u"with "
         u"partitions.\n\n**This function is not supported in Win 8, 8.1, 10 and Window Server "
         u"2012."},
        {329,
         u"Automatic Defragmentation / Hibernation / NTFS Memory Usage / Large System Cache / "
         u"Superfetch / "
         u"Prefetch / System Files in Memory. You can refer to user guide for more detail."},
        {333, u"ATA Command Summary"},
        {340, u"Stopping Velmora Service, all operations are not allowed in the mean time!"},
        {352, u"You already have the latest firmware version."},
        {354, u"You already have the latest firmware version."},
        {357, u"This is not an VARNO product!"},
        {360,
         u"No available SATA disk! Try using a windows AHCI driver for SATA controllers. This "
         u"window will "
         u"quit."},
        {364, u"Trim is in progress."},
        {365, u"Query Supported Models List Error"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoadResourceString(c.id, 1033), c.text) << "id " << c.id;
    }
}

TEST(StringTable, EachLanguageHasItsOwnColumn) {
    EXPECT_EQ(LoadResourceString(242, 1028), u"磁碟資訊");
    EXPECT_EQ(LoadResourceString(242, 2052), u"磁盘信息");
    EXPECT_EQ(LoadResourceString(242, 1041), u"ドライブ情報");
    EXPECT_EQ(LoadResourceString(242, 1042), u"드라이브 정보");
    EXPECT_EQ(LoadResourceString(242, 1049), u"Сведения о диске");
    EXPECT_EQ(LoadResourceString(245, 1049), u"Оптимизация\nсистемы");
    // Only the texts that are the same word everywhere may repeat the English.
    int sameAsEnglish = 0;
    for (int id = FirstResourceStringId; id <= LastResourceStringId; ++id) {
        if (LoadResourceString(id, 1042) == LoadResourceString(id, 1033)) {
            ++sameAsEnglish;
        }
    }
    EXPECT_LE(sameAsEnglish, 8);
}

TEST(StringTable, OtherLanguagesFallBackToEnglish) {
    for (uint32_t language : {0u, 1031u, 1036u, 3076u, 0x0004u, 0xFFFFFFFFu}) {
        EXPECT_EQ(LoadResourceString(247, language), LoadResourceString(247, 1033)) << language;
        EXPECT_TRUE(LoadResourceString(368, language).empty()) << language;
    }
}

TEST(StringTable, UiLanguageOverloadUsesTheLanguageChosenAtStartUp) {
    const int32_t saved = UiLanguageId;
    UiLanguageId = 1041;
    EXPECT_EQ(LoadResourceString(247), LoadResourceString(247, 1041));
    EXPECT_NE(LoadResourceString(247), LoadResourceString(247, 1033));
    UiLanguageId = 2052;
    EXPECT_EQ(LoadResourceString(360), LoadResourceString(360, 2052));
    UiLanguageId = 1036;
    EXPECT_EQ(LoadResourceString(360), LoadResourceString(360, 1033));
    EXPECT_TRUE(LoadResourceString(241).empty());
    UiLanguageId = saved;
}

// A complete, valid table to break in one place per case.
nlohmann::json ValidTable() {
    nlohmann::json table = nlohmann::json::array();
    for (int id = FirstResourceStringId; id <= LastResourceStringId; ++id) {
        nlohmann::json entry = {{"id", id}};
        for (uint32_t language : ResourceLanguageIds) {
            entry[std::to_string(language)] =
                "text " + std::to_string(id) + " " + std::to_string(language);
        }
        table.push_back(entry);
    }
    return table;
}

TEST(StringTable, MalformedTablesAreRejectedWithTheReason) {
    StringTable table;
    ASSERT_EQ(ParseStringTable(ValidTable().dump(), table), "");
    EXPECT_EQ(table.Find(300, 1049), u"text 300 1049");

    const struct {
        const char* what;
        std::string json;
        const char* reason;
    } cases[] = {
        {"not JSON", R"([{"id": 242,)", "the table is not valid JSON"},
        {"an object", R"({"id": 242})", "the table is not a JSON array"},
        {"missing language",
         [] {
             auto t = ValidTable();
             t[5].erase("1041");
             return t.dump();
         }(),
         "id 247 has no text for language 1041"},
        {"empty text",
         [] {
             auto t = ValidTable();
             t[3]["1049"] = "";
             return t.dump();
         }(),
         "id 245 has an empty text for language 1049"},
        {"number as text",
         [] {
             auto t = ValidTable();
             t[0]["2052"] = 5;
             return t.dump();
         }(),
         "id 242 has no text for language 2052"},
        {"duplicate id",
         [] {
             auto t = ValidTable();
             t.push_back(t[1]);
             return t.dump();
         }(),
         "id 243 appears twice"},
        {"id below the range",
         [] {
             auto t = ValidTable();
             t[0]["id"] = 241;
             return t.dump();
         }(),
         "id 241 lies outside 242..367"},
        {"id above the range",
         [] {
             auto t = ValidTable();
             t.push_back(t[0]);
             t.back()["id"] = 368;
             return t.dump();
         }(),
         "id 368 lies outside 242..367"},
        {"missing id",
         [] {
             auto t = ValidTable();
             t.erase(10);
             return t.dump();
         }(),
         "id 252 is missing"},
        {"id as text",
         [] {
             auto t = ValidTable();
             t[2]["id"] = "244";
             return t.dump();
         }(),
         "entry 2 has no integer \"id\""},
        {"unknown language",
         [] {
             auto t = ValidTable();
             t[2]["1036"] = "texte";
             return t.dump();
         }(),
         "id 244 has a member besides \"id\" and the six languages"},
        {"entry not an object",
         [] {
             auto t = ValidTable();
             t.push_back(7);
             return t.dump();
         }(),
         "entry 126 is not an object"},
    };
    for (const auto& c : cases) {
        StringTable broken;
        ASSERT_EQ(ParseStringTable(ValidTable().dump(), broken), "");
        EXPECT_EQ(ParseStringTable(c.json, broken), c.reason) << c.what;
        // Nothing of a rejected table is shown, not even its good rows.
        EXPECT_TRUE(broken.Empty()) << c.what;
        EXPECT_TRUE(broken.Find(300, 1033).empty()) << c.what;
    }
}

}  // namespace
}  // namespace tarvex
