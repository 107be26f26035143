#include "platform/sim/machine_profile.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

#include "platform/sim/devices/partition_table.h"
#include "platform/sim/host_file_reading.h"
#include "platform/sim/json_reader.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

using nlohmann::json;
using platform::Utf8ToUtf16;

namespace {

bool IsAbsoluteWindowsPath(const std::string& p) {
    return p.size() >= 3 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' &&
           p[2] == '\\';
}

std::u16string WindowsPathField(JsonObject& o, const std::string& key, bool required,
                                bool wantFile) {
    std::optional<std::string> v = required ? std::optional(o.String(key)) : o.OptionalString(key);
    if (!v) {
        return {};
    }
    if (!IsAbsoluteWindowsPath(*v) || v->size() >= win::MAX_PATH) {
        throw JsonError(o.PathOf(key),
                        "expected an absolute Windows path such as \"C:\\\\Tools\\\\Tarvex.exe\" "
                        "shorter than 260 characters, found \"" + *v + "\"");
    }
    if (wantFile && (v->back() == '\\' || v->size() == 3)) {
        throw JsonError(o.PathOf(key), "the path must end with a file name");
    }
    return Utf8ToUtf16(*v);
}

// A locale name as the C runtime gives it for "": "<language>_<country>.<code page>" in
// printable ASCII, such as "Chinese (Traditional)_Taiwan.950".
bool IsLocaleName(const std::string& name) {
    const size_t underscore = name.find('_');
    const size_t dot = name.rfind('.');
    if (underscore == std::string::npos || dot == std::string::npos || underscore == 0 || dot < underscore + 2 ||
        dot + 1 == name.size()) {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c > 0x7E || c == ';' || c == '=' || (i > dot && !std::isdigit(c))) {
            return false;
        }
    }
    return true;
}

void AppendUtf16Le(std::vector<uint8_t>& out, const std::u16string& s) {
    for (char16_t c : s) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
}

std::vector<uint8_t> ParseHexBytes(const std::string& text, const std::string& path) {
    std::vector<uint8_t> out;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ',' || c == ':') {
            continue;
        }
        int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                : (c >= 'a' && c <= 'f')                      ? c - 'a' + 10
                : (c >= 'A' && c <= 'F')                      ? c - 'A' + 10
                                                              : -1;
        if (v < 0) {
            throw JsonError(path, "expected hexadecimal bytes such as \"01 ff 3a\"");
        }
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0) {
        throw JsonError(path, "odd number of hexadecimal digits");
    }
    return out;
}

ProfileRegistryValue ParseRegistryValue(const json& node, const std::string& path) {
    JsonObject o(node, path);
    ProfileRegistryValue v;
    v.name = Utf8ToUtf16(o.String("name", 16383));
    const std::string type = o.String("type");
    const json* data = o.Raw("data");
    const std::string dataPath = o.PathOf("data");
    if (data == nullptr) {
        throw JsonError(dataPath, "required field is missing");
    }
    auto wantString = [&]() -> std::string {
        if (!data->is_string()) {
            throw JsonError(dataPath, "expected a string for " + type);
        }
        return data->get<std::string>();
    };
    auto wantUnsigned = [&](uint64_t max) -> uint64_t {
        if (!(data->is_number_unsigned() || (data->is_number_integer() && data->get<int64_t>() >= 0)) ||
            data->get<uint64_t>() > max) {
            throw JsonError(dataPath, "expected an integer from 0 to " + std::to_string(max) +
                                          " for " + type);
        }
        return data->get<uint64_t>();
    };
    if (type == "REG_SZ" || type == "REG_EXPAND_SZ") {
        v.type = type == "REG_SZ" ? win::REG_SZ : win::REG_EXPAND_SZ;
        AppendUtf16Le(v.data, Utf8ToUtf16(wantString()));
    } else if (type == "REG_MULTI_SZ") {
        v.type = win::REG_MULTI_SZ;
        const json& items = RequireArray(data, dataPath);
        for (size_t i = 0; i < items.size(); ++i) {
            if (!items[i].is_string()) {
                throw JsonError(ElementPath(dataPath, i), "expected a string");
            }
            AppendUtf16Le(v.data, Utf8ToUtf16(items[i].get<std::string>()));
        }
        v.data.push_back(0);
        v.data.push_back(0);
    } else if (type == "REG_DWORD") {
        v.type = win::REG_DWORD;
        uint64_t x = wantUnsigned(0xFFFFFFFFull);
        for (int i = 0; i < 4; ++i) {
            v.data.push_back(static_cast<uint8_t>(x >> (8 * i)));
        }
    } else if (type == "REG_QWORD") {
        v.type = win::REG_QWORD;
        uint64_t x = wantUnsigned(UINT64_MAX);
        for (int i = 0; i < 8; ++i) {
            v.data.push_back(static_cast<uint8_t>(x >> (8 * i)));
        }
    } else if (type == "REG_BINARY") {
        v.type = win::REG_BINARY;
        v.data = ParseHexBytes(wantString(), dataPath);
    } else {
        throw JsonError(o.PathOf("type"),
                        "expected one of REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, "
                        "REG_QWORD, REG_BINARY, found \"" + type + "\"");
    }
    o.Finish();
    return v;
}

ProfileRegistryKey ParseRegistryKey(const json& node, const std::string& path) {
    JsonObject o(node, path);
    ProfileRegistryKey key;
    std::string p = o.String("key", 2048);
    static const char* kRoots[] = {"HKEY_LOCAL_MACHINE\\", "HKEY_CURRENT_USER\\"};
    bool rooted = false;
    for (const char* root : kRoots) {
        rooted = rooted || p.rfind(root, 0) == 0;
    }
    if (!rooted || p.find("\\\\") != std::string::npos || p.back() == '\\') {
        throw JsonError(o.PathOf("key"),
                        "expected a key path below HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER, such "
                        "as \"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\QUELK\", found \"" + p + "\"");
    }
    key.path = Utf8ToUtf16(p);
    if (const json* values = o.Raw("values")) {
        const json& arr = RequireArray(values, o.PathOf("values"));
        for (size_t i = 0; i < arr.size(); ++i) {
            key.values.push_back(ParseRegistryValue(arr[i], ElementPath(o.PathOf("values"), i)));
        }
    }
    o.Finish();
    return key;
}

// The drives the PC needs (system drive, program, current directory) get a default volume
// when the profile lists no volumes; when it does, each of them must be one of them.
void CompleteVolumes(JsonObject& o, MachineProfile* profile) {
    struct Need {
        char16_t letter;
        std::string path;
        std::string what;
    };
    const char16_t system = SystemDriveLetter(*profile);
    auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
    const Need needs[] = {
        {system, o.Has("environment") ? "$.environment.SystemDrive" : "$.volumes", "the system drive"},
        {upper(profile->programPath[0]), "$.program.path", "the program's drive"},
        {upper(profile->currentDirectory[0]), "$.currentDirectory", "the current directory's drive"},
    };
    const bool listed = o.Has("volumes");
    for (const Need& n : needs) {
        const bool present = std::any_of(profile->volumes.begin(), profile->volumes.end(),
                                         [&](const VolumeProfile& v) { return v.letter == n.letter; });
        if (present) {
            continue;
        }
        if (listed) {
            throw JsonError(n.path, n.what + " " + platform::Utf16ToUtf8(std::u16string(1, n.letter)) +
                                        ": is not one of the volumes");
        }
        profile->volumes.push_back(DefaultVolume(n.letter, profile->disks,
                                                 static_cast<uint32_t>(profile->volumes.size() + 1)));
    }
    for (const VolumeProfile& v : profile->volumes) {
        if (v.letter == system && v.kind == VolumeKind::CdRom) {
            throw JsonError("$.volumes", "the system drive cannot be a CD/DVD drive");
        }
    }
}

// Every partition must fit the partition style of its disk (four primary MBR partitions
// below 2 TiB, GPT partitions between the usable LBAs, none on an uninitialised disk).
// `listed` volumes came from the profile; the ones after them are defaults.
void CheckPartitionLayout(const MachineProfile& profile, size_t listed) {
    for (size_t i = 0; i < profile.volumes.size(); ++i) {
        const VolumeProfile& v = profile.volumes[i];
        if (v.kind != VolumeKind::Partition) {
            continue;
        }
        for (const DiskProfile& d : profile.disks) {
            if (d.number != v.disk) {
                continue;
            }
            if (auto problem = PartitionLayoutProblem(d, v)) {
                throw JsonError(i < listed ? ElementPath("$.volumes", i) : std::string("$.volumes"), *problem);
            }
        }
    }
}

std::u16string DefaultOsName(const MachineProfile& profile) {
    struct Name {
        uint32_t major, minor;
        const char16_t* text;
    };
    static const Name kNames[] = {
        {5, 1, u"Microsoft Windows XP Professional"}, {5, 2, u"Microsoft Windows XP Professional x64 Edition"},
        {6, 0, u"Microsoft Windows Vista Business "}, {6, 1, u"Microsoft Windows 7 Professional "},
        {6, 2, u"Microsoft Windows 8 Pro"},           {6, 3, u"Microsoft Windows 8.1 Pro"},
        {10, 0, u"Microsoft Windows 10 Pro"},
    };
    std::u16string name = u"Microsoft Windows";
    for (const Name& n : kNames) {
        if (n.major == profile.os.major && n.minor == profile.os.minor) {
            name = n.text;
        }
    }
    const char16_t system = SystemDriveLetter(profile);
    uint32_t disk = 0, partition = 1;
    for (const VolumeProfile& v : profile.volumes) {
        if (v.letter == system) {
            disk = v.disk == UINT32_MAX ? 0 : v.disk;
            partition = v.partition;
        }
    }
    return name + u"|" + std::u16string(1, system) + u":\\Windows|\\Device\\Harddisk" +
           Utf8ToUtf16(std::to_string(disk)) + u"\\Partition" + Utf8ToUtf16(std::to_string(partition));
}

void ParseOs(JsonObject o, ProfileOs* os) {
    os->major = static_cast<uint32_t>(o.Int("major", 0, 255));
    os->minor = static_cast<uint32_t>(o.Int("minor", 0, 255));
    os->build = static_cast<uint32_t>(o.OptionalInt("build", 0, 0xFFFFFFFF).value_or(0));
    os->platformId = static_cast<uint32_t>(o.OptionalInt("platformId", 0, 3).value_or(2));
    os->servicePack = Utf8ToUtf16(o.OptionalString("servicePack", 127 * 3).value_or(""));
    if (os->servicePack.size() > 127) {
        throw JsonError(o.PathOf("servicePack"), "text is longer than 127 characters");
    }
    os->servicePackMajor = static_cast<uint16_t>(o.OptionalInt("servicePackMajor", 0, 0xFFFF).value_or(0));
    os->servicePackMinor = static_cast<uint16_t>(o.OptionalInt("servicePackMinor", 0, 0xFFFF).value_or(0));
    os->suiteMask = static_cast<uint16_t>(o.OptionalInt("suiteMask", 0, 0xFFFF).value_or(0x100));
    os->productType = static_cast<uint8_t>(o.OptionalInt("productType", 1, 3).value_or(1));
    os->versionInfoEx = o.OptionalBool("versionInfoEx").value_or(true);
    o.Finish();
}

void ParseOsName(JsonObject& os, HardwareProfile* hardware) {
    if (auto name = os.OptionalString("name", 255 * 3)) {
        hardware->osName = Utf8ToUtf16(*name);
        if (hardware->osName.empty() || hardware->osName.size() > 255) {
            throw JsonError(os.PathOf("name"), "expected 1 to 255 characters");
        }
    }
    if (auto arch = os.OptionalString("architecture")) {
        if (*arch != "32-bit" && *arch != "64-bit") {
            throw JsonError(os.PathOf("architecture"), "expected 32-bit or 64-bit, found \"" + *arch + "\"");
        }
        hardware->osArchitecture = Utf8ToUtf16(*arch);
    }
}

MachineProfile Parse(const json& root, MachineProfile profile, const std::filesystem::path& folder) {
    JsonObject o(root, "$");
    const int64_t version = o.Int("formatVersion", 0, 1000000);
    if (version != kProfileFormatVersion) {
        throw JsonError("$.formatVersion", "unsupported format version " + std::to_string(version) +
                                               "; this program reads version " +
                                               std::to_string(kProfileFormatVersion));
    }
    profile.description = o.OptionalString("description").value_or("");
    {
        JsonObject os = o.Object("os");
        ParseOsName(os, &profile.hardware);
        ParseOs(std::move(os), &profile.os);
    }
    profile.uiLanguage = static_cast<uint16_t>(o.Int("uiLanguage", 1, 0xFFFF));
    if (auto locale = o.OptionalString("locale", 127)) {
        if (!IsLocaleName(*locale)) {
            throw JsonError(o.PathOf("locale"), "expected a locale name language_country.code page such as "
                                                "\"Korean_Korea.949\", found \"" + *locale + "\"");
        }
        profile.locale = *locale;
    }

    JsonObject program = o.Object("program");
    profile.programPath = WindowsPathField(program, "path", true, true);
    if (auto t = program.OptionalString("lastWriteTime")) {
        profile.programLastWriteUnixMs = ParseUtcTime(*t, program.PathOf("lastWriteTime"));
    }
    program.Finish();

    profile.currentDirectory = WindowsPathField(o, "currentDirectory", false, false);
    if (profile.currentDirectory.empty()) {
        profile.currentDirectory = WindowsDirName(profile.programPath);
    }
    if (auto cmd = o.OptionalString("commandLine", 32767)) {
        profile.commandLine = Utf8ToUtf16(*cmd);
    }

    if (auto env = o.OptionalObject("environment")) {
        for (const std::string& name : env->Keys()) {
            if (name.empty() || name.find('=') != std::string::npos) {
                throw JsonError(env->PathOf(name), "an environment variable name is not empty "
                                                   "and has no '='");
            }
            for (const auto& [known, value] : profile.environment) {
                if (platform::EqualsIgnoreCase(known, Utf8ToUtf16(name))) {
                    throw JsonError(env->PathOf(name), "the variable " + platform::Utf16ToUtf8(known) +
                                                           " is given twice (names ignore case)");
                }
            }
            profile.environment[Utf8ToUtf16(name)] = Utf8ToUtf16(env->String(name, 32767));
        }
    }

    if (auto clock = o.OptionalObject("clock")) {
        if (auto start = clock->OptionalString("start")) {
            profile.clockStartUnixMs = ParseUtcTime(*start, clock->PathOf("start"));
        }
        profile.clockSpeed = clock->OptionalNumber("speed", 0.001, 1000000.0).value_or(1.0);
        profile.bootTickMs =
            static_cast<uint64_t>(clock->OptionalInt("bootTickMs", 0, 0xFFFFFFFFll).value_or(600000));
        clock->Finish();
    }

    if (const json* reg = o.Raw("registry")) {
        const json& arr = RequireArray(reg, "$.registry");
        // Value names ignore case, as key paths do: one value may be given only once, even
        // when its key is listed twice.
        std::set<std::u16string> valueNames;
        for (size_t i = 0; i < arr.size(); ++i) {
            const std::string keyPath = ElementPath("$.registry", i);
            profile.registry.push_back(ParseRegistryKey(arr[i], keyPath));
            const ProfileRegistryKey& key = profile.registry.back();
            for (size_t v = 0; v < key.values.size(); ++v) {
                if (!valueNames.insert(platform::FoldCase(key.path + u"\\" + key.values[v].name)).second) {
                    throw JsonError(ElementPath(keyPath + ".values", v) + ".name",
                                    "the value \"" + platform::Utf16ToUtf8(key.values[v].name) +
                                        "\" of this key is given twice (names ignore case)");
                }
            }
        }
    }
    if (const json* disks = o.Raw("disks")) {
        profile.disks = ParseDiskProfiles(*disks, "$.disks", folder);
    }
    if (const json* volumes = o.Raw("volumes")) {
        profile.volumes = ParseVolumeProfiles(*volumes, "$.volumes", profile.disks);
    }
    if (const json* hardware = o.Raw("hardware")) {
        ParseHardwareProfile(*hardware, "$.hardware", &profile.hardware);
    }
    if (const json* wmi = o.Raw("wmi")) {
        ParseWmiProfile(*wmi, "$.wmi", &profile.hardware);
    }
    if (const json* services = o.Raw("services")) {
        profile.services = ParseServiceProfiles(*services, "$.services");
    }
    if (const json* shell = o.Raw("shell")) {
        profile.shell = ParseShellProfile(*shell, "$.shell");
    }
    if (const json* tree = o.Raw("deviceTree")) {
        profile.deviceTree = ParseDeviceTreeProfile(*tree, "$.deviceTree");
    }
    o.Finish();
    const size_t listedVolumes = profile.volumes.size();
    CompleteVolumes(o, &profile);
    CheckPartitionLayout(profile, listedVolumes);
    CompleteHardwareProfile(&profile.hardware, profile.disks, "$.hardware.controllers");
    if (profile.hardware.osName.empty()) {
        profile.hardware.osName = DefaultOsName(profile);
    }
    return profile;
}

}  // namespace

ProfileLoadResult LoadMachineProfile(const std::string& text, const std::string& name,
                                     const std::string& source, const std::filesystem::path& folder) {
    ProfileLoadResult result;
    try {
        MachineProfile base;
        base.name = name;
        base.source = source;
        result.profile = Parse(ParseJsonText(text), std::move(base), folder);
        result.profile->text = text;
    } catch (const JsonError& e) {
        result.error = source + ": " + e.what();
    } catch (const nlohmann::json::exception& e) {
        result.error = source + ": $: " + e.what();
    }
    return result;
}

std::optional<std::string> ReadMachineProfileFile(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<std::string> {
        *error = path + ": cannot read the machine profile: " + why;
        return std::nullopt;
    };
    HostFileRead read = ReadRegularHostFile(path, kMaxProfileFileBytes);
    switch (read.problem) {
        case HostFileProblem::None: return std::move(read.bytes);
        case HostFileProblem::CannotRead: return fail(read.systemError);
        case HostFileProblem::Folder: return fail("it is a folder");
        case HostFileProblem::NotRegular: return fail("not a regular file");
        case HostFileProblem::TooBig: return fail("larger than " + std::to_string(kMaxProfileFileBytes >> 20) + " MiB");
    }
    return fail("unknown problem");
}

char16_t SystemDriveLetter(const MachineProfile& profile) {
    for (const auto& [name, value] : profile.environment) {
        if (platform::EqualsIgnoreCase(name, u"SystemDrive") && value.size() >= 2 && value[1] == u':') {
            const char16_t c = value[0];
            return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
        }
    }
    return u'C';
}

std::u16string WindowsDirName(const std::u16string& path) {
    auto pos = path.find_last_of(u'\\');
    if (pos == std::u16string::npos) {
        return {};
    }
    // Keep the backslash of a drive root ("C:\\").
    return path.substr(0, pos == 2 && path.size() > 1 && path[1] == u':' ? 3 : pos);
}

std::u16string WindowsBaseName(const std::u16string& path) {
    auto pos = path.find_last_of(u'\\');
    return pos == std::u16string::npos ? path : path.substr(pos + 1);
}

}  // namespace tarvex::sim
