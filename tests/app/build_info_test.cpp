#include <gtest/gtest.h>

#include <regex>

#include "app/build_info.h"
#include "app/trace.h"
#include "platform/text.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

class BuildInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetTraceForTesting();
        SetTraceLevel(1);
    }
    void TearDown() override {
        SetTraceLevel(0);
        ResetTraceForTesting();
    }
    static std::string TraceOf(test::TestMachine& m) { return test::ReadHostFile(m.Host(u"C:\\Tools\\Tarvex.log")); }
};

TEST_F(BuildInfoTest, NumberFollowsTheProgramFileTime) {
    const struct {
        const char* time;
        const char16_t* number;
        const char* traced;
    } cases[] = {
        {"2017-03-13T20:49:00Z", u"Q30D1431", "Build number:Q30D1431, Creation Time(UTC):2017 3 13 20 49!"},
        {"2020-01-01T09:05:59Z", u"T1010905", "Build number:T1010905, Creation Time(UTC):2020 1 1 9 5!"},
        {"2026-12-31T23:59:00Z", u"ZC1F173B", "Build number:ZC1F173B, Creation Time(UTC):2026 12 31 23 59!"},
    };
    for (const auto& c : cases) {
        nlohmann::json profile = test::BaseProfile();
        profile["program"]["lastWriteTime"] = c.time;
        test::TestMachine m(profile);
        ResetTraceForTesting();
        ComputeBuildNumber();
        EXPECT_EQ(platform::FixedText(BuildNumber), c.number) << c.time;
        EXPECT_NE(TraceOf(m).find(std::string(c.traced) + "\r\n"), std::string::npos) << TraceOf(m);
        platform::SystemTime st;
        ASSERT_TRUE(platform::FileTimeToSystemTime(BuildTimeStamp, &st));
        EXPECT_EQ(st.wMinute, std::stoi(std::string(c.time).substr(14, 2)));
    }
}

TEST_F(BuildInfoTest, ProgramFileMissingLeavesNumberEmpty) {
    nlohmann::json profile = test::BaseProfile();
    profile["currentDirectory"] = "C:\\Windows";
    test::TestMachine m(profile);
    platform::CopyToFixed(BuildNumber, u"OLDVALUE");
    ComputeBuildNumber();
    EXPECT_EQ(platform::FixedText(BuildNumber), u"") << "cleared before it is computed";
    EXPECT_NE(TraceOf(m).find(" Open Tarvex.exe fail:2!\r\n"), std::string::npos) << TraceOf(m);
}

TEST_F(BuildInfoTest, YearsBefore1937HaveNoNumber) {
    EXPECT_FALSE(FormatBuildNumber(platform::SystemTime{1936, 5, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(FormatBuildNumber(platform::SystemTime{1937, 10, 0, 9, 8, 7, 0, 0}), u"\x01" u"A090807");
}

TEST_F(BuildInfoTest, BannerHasCompilerDateAndTime) {
    test::TestMachine m;
    InitBuildBanner();
    const std::string banner = BuildBanner;
    EXPECT_TRUE(std::regex_match(banner, std::regex(R"(This build was compiled at [A-Z][a-z]{2} [ 0-9]\d \d{4}, \d\d:\d\d:\d\d\.)")))
        << banner;
    EXPECT_NE(TraceOf(m).find(" " + banner + "\r\n"), std::string::npos);
    EXPECT_EQ(MakeBuildBanner("Mar 13 2017", "20:49:11"), "This build was compiled at Mar 13 2017, 20:49:11.");
}

}  // namespace
}  // namespace tarvex
