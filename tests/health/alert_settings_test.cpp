#include <gtest/gtest.h>

#include "device/ata_command.h"
#include "health/alert_settings.h"
#include "platform/win32_values.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

std::optional<uint32_t> Stored(test::TestMachine& m, const char16_t* name) {
    auto v = m->Registry().Read(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\VARNO\\SSDVelmora", name);
    if (!v || v->data.size() != 4) {
        return std::nullopt;
    }
    return v->data[0] | (v->data[1] << 8) | (v->data[2] << 16) | (static_cast<uint32_t>(v->data[3]) << 24);
}

TEST(AlertSettings, ApplyTextsParseAsTheCRuntimeWould) {
    EXPECT_EQ(ParseAlertInput(u"75"), 75);
    EXPECT_EQ(ParseAlertInput(u"  -5"), -5);
    EXPECT_EQ(ParseAlertInput(u"+12"), 12);
    EXPECT_EQ(ParseAlertInput(u""), 0) << "an empty text reads as 0";
    EXPECT_EQ(ParseAlertInput(u"75C"), std::nullopt) << "error input";
    EXPECT_EQ(ParseAlertInput(u"75 "), std::nullopt);
    EXPECT_EQ(ParseAlertInput(u"-"), std::nullopt);
    EXPECT_EQ(ParseAlertInput(u"   "), std::nullopt);
    EXPECT_EQ(ParseAlertInput(u"99999999999"), std::nullopt);
    EXPECT_EQ(ParseAlertInput(u"-2147483648"), INT32_MIN);
}

TEST(AlertSettings, ValuesRoundTripAndLifeIsCappedAt100) {
    test::TestMachine m;
    ATACommand ata;
    EXPECT_EQ(ata.ReadTemperatureAlert(), -1) << "no key yet";
    EXPECT_EQ(ShownTemperatureAlert(), 70);
    EXPECT_EQ(ShownLifeAlert(), 10);
    ASSERT_TRUE(ata.WriteTemperatureAlert(75));
    EXPECT_EQ(Stored(m, u"VelmoraSvcTemperature"), 75u);
    EXPECT_EQ(ata.ReadTemperatureAlert(), 75);
    EXPECT_EQ(ata.ReadLifeAlert(), -1) << "the key exists, the value not";

    ASSERT_TRUE(ata.WriteLifeAlert(250));
    EXPECT_EQ(ShownLifeAlert(), 100);
    EXPECT_EQ(Stored(m, u"VelmoraSvcRemainingLife"), 100u) << "rewritten when read";
    ASSERT_TRUE(ata.WriteLifeAlert(-5));
    EXPECT_EQ(Stored(m, u"VelmoraSvcRemainingLife"), 0xFFFFFFFBu) << "the 32-bit pattern of -5";
    EXPECT_EQ(ShownLifeAlert(), 100);
    EXPECT_EQ(Stored(m, u"VelmoraSvcRemainingLife"), 100u);
    EXPECT_FALSE(m->Registry().EnabledPrivileges().empty());
    EXPECT_EQ(m->Registry().EnabledPrivileges()[0], u"SeRestorePrivilege");
}

}  // namespace
}  // namespace tarvex
