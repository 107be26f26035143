#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "platform/sim/embedded_profiles.h"
#include "platform/sim/machine_profile.h"
#include "platform/sim/registry_defaults.h"
#include "platform/sim/sim_machine.h"
#include "platform/win32_values.h"
#include "support/test_machine.h"

namespace tarvex::sim {
namespace {

using nlohmann::json;
using test::BaseProfile;

std::string LoadError(const json& profile) {
    auto r = LoadMachineProfile(profile.dump(), "test", "test.json");
    EXPECT_FALSE(r.profile.has_value()) << "profile was accepted: " << profile.dump();
    return r.error;
}

TEST(MachineProfile, BaseProfileLoadsWithDefaults) {
    auto r = LoadMachineProfile(BaseProfile().dump(), "test", "test.json");
    ASSERT_TRUE(r.profile) << r.error;
    const MachineProfile& p = *r.profile;
    EXPECT_EQ(p.os.major, 6u);
    EXPECT_EQ(p.os.minor, 1u);
    EXPECT_EQ(p.os.servicePack, u"Service Pack 1");
    EXPECT_EQ(p.uiLanguage, 1033);
    EXPECT_EQ(p.currentDirectory, u"C:\\Tools") << "the current directory defaults to the program's folder";
    ASSERT_TRUE(p.programLastWriteUnixMs);
    EXPECT_EQ(*p.programLastWriteUnixMs, 1489438140000);  // 2017-03-13T20:49:00Z
    EXPECT_EQ(p.clockSpeed, 1.0);
}

TEST(MachineProfile, EveryProblemNamesFileAndJsonPathOnOneLine) {
    struct Case {
        const char* what;
        std::function<void(json&)> change;
        const char* expected;
    };
    const Case cases[] = {
        {"wrong type", [](json& j) { j["os"]["major"] = "six"; }, "test.json: $.os.major: expected an integer"},
        {"unknown field", [](json& j) { j["os"]["colour"] = 1; }, "test.json: $.os.colour: unknown field"},
        {"unknown top field", [](json& j) { j["drives"] = json::array(); }, "$.drives: unknown field"},
        {"out of range", [](json& j) { j["uiLanguage"] = 70000; }, "$.uiLanguage: expected an integer from 1 to 65535"},
        {"missing", [](json& j) { j.erase("program"); }, "$.program: required field is missing"},
        {"version", [](json& j) { j["formatVersion"] = 2; }, "$.formatVersion: unsupported format version 2"},
        {"relative program", [](json& j) { j["program"]["path"] = "Tarvex.exe"; }, "$.program.path: expected an absolute Windows path"},
        {"bad time", [](json& j) { j["program"]["lastWriteTime"] = "yesterday"; }, "$.program.lastWriteTime: expected a UTC time"},
        {"bad day", [](json& j) { j["program"]["lastWriteTime"] = "2017-02-29T00:00:00Z"; }, "$.program.lastWriteTime"},
        {"speed", [](json& j) { j["clock"] = {{"speed", 0}}; }, "$.clock.speed: expected a number"},
        {"long service pack", [](json& j) { j["os"]["servicePack"] = std::string(128, 'x'); }, "$.os.servicePack"},
        {"registry type",
         [](json& j) { j["registry"] = json::parse(R"([{"key":"HKEY_LOCAL_MACHINE\\SOFTWARE\\X","values":[{"name":"a","type":"REG_FOO","data":1}]}])"); },
         "$.registry[0].values[0].type: expected one of"},
        {"registry dword range",
         [](json& j) { j["registry"] = json::parse(R"([{"key":"HKEY_LOCAL_MACHINE\\SOFTWARE\\X","values":[{"name":"a","type":"REG_DWORD","data":4294967296}]}])"); },
         "$.registry[0].values[0].data: expected an integer from 0 to 4294967295"},
        {"registry root",
         [](json& j) { j["registry"] = json::parse(R"([{"key":"SOFTWARE\\X"}])"); },
         "$.registry[0].key: expected a key path"},
        {"binary data",
         [](json& j) { j["registry"] = json::parse(R"([{"key":"HKEY_LOCAL_MACHINE\\X","values":[{"name":"b","type":"REG_BINARY","data":"0g"}]}])"); },
         "$.registry[0].values[0].data: expected hexadecimal bytes"},
        {"environment", [](json& j) { j["environment"] = {{"A", 1}}; }, "$.environment.A: expected a string"},
    };
    for (const Case& c : cases) {
        json j = BaseProfile();
        c.change(j);
        const std::string error = LoadError(j);
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << c.what << ": the error is one line";
        EXPECT_EQ(error.rfind("test.json: ", 0), 0u) << c.what << ": " << error;
    }
}

TEST(MachineProfile, SyntaxErrorGivesLineAndColumn) {
    auto r = LoadMachineProfile("{\n  \"formatVersion\": 1,\n  \"os\": {,\n}", "x", "broken.json");
    ASSERT_FALSE(r.profile);
    EXPECT_NE(r.error.find("broken.json: $: invalid JSON at line 3, column"), std::string::npos) << r.error;
    EXPECT_EQ(r.error.find('\n'), std::string::npos);
    auto notObject = LoadMachineProfile("[1, 2]", "x", "list.json");
    EXPECT_NE(notObject.error.find("list.json: $: expected an object"), std::string::npos) << notObject.error;
}

TEST(MachineProfile, RegistryValuesBecomeStoredBytes) {
    json j = BaseProfile();
    j["registry"] = json::parse(R"([{"key": "HKEY_LOCAL_MACHINE\\SOFTWARE\\QUELK\\SSDVelmora", "values": [
        {"name": "TrimInProgress", "type": "REG_DWORD", "data": 1},
        {"name": "TrimStartAt", "type": "REG_QWORD", "data": 18446744073709551615},
        {"name": "Text", "type": "REG_SZ", "data": "Aé"},
        {"name": "Blob", "type": "REG_BINARY", "data": "01 ff 3A"},
        {"name": "List", "type": "REG_MULTI_SZ", "data": ["a", "b"]}]}])");
    auto r = LoadMachineProfile(j.dump(), "test", "test.json");
    ASSERT_TRUE(r.profile) << r.error;
    const auto& v = r.profile->registry.at(0).values;
    EXPECT_EQ(v[0].data, (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(v[1].data, std::vector<uint8_t>(8, 0xFF));
    EXPECT_EQ(v[2].data, (std::vector<uint8_t>{'A', 0, 0xE9, 0, 0, 0}));
    EXPECT_EQ(v[3].data, (std::vector<uint8_t>{0x01, 0xFF, 0x3A}));
    EXPECT_EQ(v[4].data, (std::vector<uint8_t>{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}));
    EXPECT_EQ(v[4].type, win::REG_MULTI_SZ);
}

TEST(MachineProfile, EmbeddedDemoIsWindows7Sp1English) {
    const EmbeddedProfile* demo = FindEmbeddedProfile("demo");
    ASSERT_NE(demo, nullptr);
    auto r = LoadMachineProfile(demo->text, "demo", "embedded:demo");
    ASSERT_TRUE(r.profile) << r.error;
    EXPECT_EQ(r.profile->os.major, 6u);
    EXPECT_EQ(r.profile->os.minor, 1u);
    EXPECT_EQ(r.profile->os.servicePack, u"Service Pack 1");
    EXPECT_EQ(r.profile->uiLanguage, 1033);
}

TEST(MachineProfile, InitialRegistryFollowsVersionAndProfileWins) {
    json j = BaseProfile();
    j["registry"] = json::parse(R"([{"key": "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\FileSystem",
        "values": [{"name": "DisableDeleteNotification", "type": "REG_DWORD", "data": 1}]}])");
    test::TestMachine m(j);
    auto value = m->Registry().Read(u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\FileSystem",
                                    u"disabledeletenotification");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->data, (std::vector<uint8_t>{1, 0, 0, 0})) << "the profile replaces the default";
    auto version = m->Registry().Read(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                      u"CurrentVersion");
    ASSERT_TRUE(version);
    EXPECT_EQ(version->type, win::REG_SZ);
    EXPECT_EQ(version->data, (std::vector<uint8_t>{'6', 0, '.', 0, '1', 0, 0, 0}));
}

// Sets and restores one environment variable around a test.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~EnvVar() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(MachineSelection, ArgumentsOverrideEnvironmentAndStateFollowsXdg) {
    test::TempDir dir;
    const auto file = dir.Path() / "office.json";
    std::ofstream(file) << BaseProfile().dump();
    EnvVar machine("TARVEX_MACHINE", file.c_str());
    EnvVar state("TARVEX_STATE", nullptr);
    EnvVar xdg("XDG_STATE_HOME", (dir.Path() / "xdg").c_str());
    EnvVar speed("TARVEX_SPEED", "50");
    std::string error;

    auto fromEnv = SelectMachine(std::nullopt, std::nullopt, &error);
    ASSERT_TRUE(fromEnv) << error;
    EXPECT_EQ(fromEnv->name, "office");
    EXPECT_EQ(fromEnv->stateDir, dir.Path() / "xdg" / "tarvex" / "office");
    ASSERT_TRUE(fromEnv->speed);
    EXPECT_EQ(*fromEnv->speed, 50.0);

    auto fromArgs = SelectMachine(std::string("demo"), (dir.Path() / "s").string(), &error);
    ASSERT_TRUE(fromArgs) << error;
    EXPECT_EQ(fromArgs->source, "embedded:demo");
    EXPECT_EQ(fromArgs->stateDir, dir.Path() / "s");

    {
        EnvVar badSpeed("TARVEX_SPEED", "fast");
        EXPECT_FALSE(SelectMachine(std::nullopt, std::nullopt, &error));
        EXPECT_NE(error.find("TARVEX_SPEED"), std::string::npos) << error;
    }
    EXPECT_FALSE(SelectMachine(std::string("/no/such/profile.json"), std::nullopt, &error));
    EXPECT_NE(error.find("/no/such/profile.json"), std::string::npos) << error;
}

}  // namespace
}  // namespace tarvex::sim
