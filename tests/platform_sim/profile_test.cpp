#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

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

// What the format refuses although a lenient reader would pick one of two meanings.
TEST(MachineProfile, DuplicatesAndNonCanonicalNamesAreRefused) {
    // A member given twice, at any depth (the parser alone keeps the last one).
    std::string text = BaseProfile().dump();
    text.insert(text.size() - 1, R"(,"uiLanguage": 1041)");
    auto r = LoadMachineProfile(text, "test", "test.json");
    EXPECT_FALSE(r.profile) << "a second uiLanguage was accepted";
    EXPECT_EQ(r.error, "test.json: $.uiLanguage: field given twice");
    r = LoadMachineProfile(R"({"disks": [{}, {"a": 1, "b": {"c": [0, {"d": 1, "d": 2}]}}]})", "test", "nested.json");
    EXPECT_EQ(r.error, "nested.json: $.disks[1].b.c[1].d: field given twice");

    const json sata = {{"number", 0},          {"kind", "sata"},    {"model", "M"},
                       {"serial", "S"},        {"firmware", "F"},   {"capacityBytes", 1ll << 30}};
    struct Case {
        const char* what;
        std::function<void(json&)> change;
        const char* expected;  // empty: the profile loads
    };
    const Case cases[] = {
        {"registry value twice in one key",
         [](json& j) { j["registry"] = json::parse(R"([{"key":"HKEY_LOCAL_MACHINE\\SOFTWARE\\X","values":[
             {"name":"Level","type":"REG_DWORD","data":1},{"name":"LEVEL","type":"REG_DWORD","data":2}]}])"); },
         "$.registry[0].values[1].name: the value \"LEVEL\" of this key is given twice"},
        {"registry value twice across one key listed twice",
         [](json& j) { j["registry"] = json::parse(R"([
             {"key":"HKEY_LOCAL_MACHINE\\SOFTWARE\\X","values":[{"name":"a","type":"REG_SZ","data":"1"}]},
             {"key":"HKEY_LOCAL_MACHINE\\software\\x","values":[{"name":"A","type":"REG_SZ","data":"2"}]}])"); },
         "$.registry[1].values[0].name"},
        {"same value name under two keys",
         [](json& j) { j["registry"] = json::parse(R"([
             {"key":"HKEY_LOCAL_MACHINE\\SOFTWARE\\X","values":[{"name":"a","type":"REG_SZ","data":"1"}]},
             {"key":"HKEY_LOCAL_MACHINE\\SOFTWARE\\Y","values":[{"name":"a","type":"REG_SZ","data":"2"}]}])"); },
         ""},
        {"environment name in two cases", [](json& j) { j["environment"] = {{"Path", "a"}, {"PATH", "b"}}; },
         "is given twice (names ignore case)"},
        {"identify word with a blank", [&](json& j) { j["disks"] = json::array({sata}); j["disks"][0]["sata"] = {{"identifyWords", {{"217", 1}, {" 217", 2}}}}; },
         "$.disks[0].sata.identifyWords. 217: expected a word number"},
        {"identify word with a sign", [&](json& j) { j["disks"] = json::array({sata}); j["disks"][0]["sata"] = {{"identifyWords", {{"+217", 2}}}}; },
         "$.disks[0].sata.identifyWords.+217: expected a word number"},
        {"identify word with a leading zero", [&](json& j) { j["disks"] = json::array({sata}); j["disks"][0]["sata"] = {{"identifyWords", {{"0217", 2}}}}; },
         "$.disks[0].sata.identifyWords.0217: expected a word number"},
        {"identify words 0 and 217", [&](json& j) { j["disks"] = json::array({sata}); j["disks"][0]["sata"] = {{"identifyWords", {{"0", 1}, {"217", 2}}}}; },
         ""},
        {"lower-case volume letter",
         [&](json& j) { j["volumes"] = json::array({{{"letter", "c"}, {"sizeBytes", 1ll << 30}}}); },
         "$.volumes[0].letter: expected one drive letter A to Z, found \"c\""},
    };
    for (const Case& c : cases) {
        json j = BaseProfile();
        c.change(j);
        auto loaded = LoadMachineProfile(j.dump(), "test", "test.json");
        if (*c.expected == '\0') {
            EXPECT_TRUE(loaded.profile) << c.what << ": " << loaded.error;
            continue;
        }
        EXPECT_FALSE(loaded.profile) << c.what << ": accepted";
        EXPECT_NE(loaded.error.find(c.expected), std::string::npos) << c.what << ": " << loaded.error;
        EXPECT_EQ(loaded.error.rfind("test.json: $.", 0), 0u) << c.what << ": " << loaded.error;
    }
}

TEST(MachineProfile, AProfileFileIsARegularFileOfAtMostSixteenMiB) {
    test::TempDir dir;
    std::string error;
    const auto good = dir.Path() / "good.json";
    std::ofstream(good) << BaseProfile().dump();
    auto text = ReadMachineProfileFile(good.string(), &error);
    ASSERT_TRUE(text) << error;
    EXPECT_EQ(*text, BaseProfile().dump());

    // Sparse files: the limit is checked before anything is read.
    const auto atLimit = dir.Path() / "at-limit.json";
    std::ofstream(atLimit).close();
    std::filesystem::resize_file(atLimit, kMaxProfileFileBytes);
    text = ReadMachineProfileFile(atLimit.string(), &error);
    ASSERT_TRUE(text) << error;
    EXPECT_EQ(text->size(), kMaxProfileFileBytes);
    const auto big = dir.Path() / "big.json";
    std::ofstream(big).close();
    std::filesystem::resize_file(big, kMaxProfileFileBytes + 1);
    EXPECT_FALSE(ReadMachineProfileFile(big.string(), &error));
    EXPECT_EQ(error, big.string() + ": cannot read the machine profile: larger than 16 MiB");

    // A FIFO without a writer is refused at once rather than waited on, like any non-file.
    const auto fifo = dir.Path() / "fifo.json";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(ReadMachineProfileFile(fifo.string(), &error));
    EXPECT_EQ(error, fifo.string() + ": cannot read the machine profile: not a regular file");
    EXPECT_FALSE(ReadMachineProfileFile(dir.Path().string(), &error));
    EXPECT_EQ(error, dir.Path().string() + ": cannot read the machine profile: it is a folder");
    EXPECT_FALSE(ReadMachineProfileFile((dir.Path() / "none.json").string(), &error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;

    // Machine selection reads through it: an endless device is refused, not read.
    EXPECT_FALSE(SelectMachine(fifo.string(), (dir.Path() / "state").string(), &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
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
