#include <gtest/gtest.h>

#include "platform/filetime.h"
#include "platform/text.h"

namespace tarvex::platform {
namespace {

TEST(FileTime, ConvertsBothWaysAndRefusesWhatWindowsRefuses) {
    SystemTime st;
    ASSERT_TRUE(FileTimeToSystemTime(FileTime::FromValue(0), &st));
    EXPECT_EQ(st.wYear, 1601);
    EXPECT_EQ(st.wMonth, 1);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wDayOfWeek, 1) << "1601-01-01 was a Monday";

    const FileTime t = FileTimeFromUnixMs(1489438140123);  // 2017-03-13 20:49:00.123 UTC
    ASSERT_TRUE(FileTimeToSystemTime(t, &st));
    EXPECT_EQ(st.wYear, 2017);
    EXPECT_EQ(st.wMonth, 3);
    EXPECT_EQ(st.wDay, 13);
    EXPECT_EQ(st.wHour, 20);
    EXPECT_EQ(st.wMinute, 49);
    EXPECT_EQ(st.wMilliseconds, 123);
    EXPECT_EQ(st.wDayOfWeek, 1);
    FileTime back;
    ASSERT_TRUE(SystemTimeToFileTime(st, &back));
    EXPECT_EQ(back.Value(), t.Value());
    EXPECT_EQ(UnixMsFromFileTime(back), 1489438140123);

    EXPECT_FALSE(FileTimeToSystemTime(FileTime::FromValue(0x8000000000000000ull), &st));
    SystemTime leap{2020, 2, 0, 29, 0, 0, 0, 0};
    EXPECT_TRUE(SystemTimeToFileTime(leap, &back));
    SystemTime notLeap{2100, 2, 0, 29, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToFileTime(notLeap, &back));
    SystemTime tooEarly{1600, 12, 0, 31, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToFileTime(tooEarly, &back));
}

TEST(Text, Utf16AndUtf8RoundTripAndMarkWhatCannotConvert) {
    const std::u16string text = u"Ab\u00e9\u4e2d\U0001F600";
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
    EXPECT_EQ(Utf16ToUtf8(u"\u4e2d"), "\xe4\xb8\xad");
    bool replaced = false;
    EXPECT_EQ(Utf16ToUtf8(std::u16string(u"a") + char16_t(0xD800) + u"b", ' ', &replaced), "a b");
    EXPECT_TRUE(replaced);
    EXPECT_EQ(Utf8ToUtf16("a\xff" "b"), u"a\uFFFDb");
    EXPECT_EQ(Utf8ToUtf16("\xc0\xaf"), u"\uFFFD\uFFFD") << "overlong forms are refused";
    EXPECT_EQ(FoldCase(u"SSDVelmora \u00c9\u0416"), u"ssdvelmora \u00e9\u0436");
    EXPECT_TRUE(EqualsIgnoreCase(u"HKEY_Local_Machine", u"hkey_local_machine"));
    char16_t field[5];
    CopyToFixed(field, u"zh-TW-long");
    EXPECT_EQ(FixedText(field), u"zh-T");
}

}  // namespace
}  // namespace tarvex::platform
