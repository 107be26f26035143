#include "platform/sim/registry_defaults.h"

#include <string>

#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace {

struct ProductName {
    uint32_t major, minor;
    const char16_t* name;
};
constexpr ProductName kProductNames[] = {
    {5, 0, u"Microsoft Windows 2000"},      {5, 1, u"Microsoft Windows XP"},
    {5, 2, u"Microsoft Windows XP"},        {6, 0, u"Windows Vista (TM) Business"},
    {6, 1, u"Windows 7 Professional"},      {6, 2, u"Windows 8 Pro"},
    {6, 3, u"Windows 8.1 Pro"},             {10, 0, u"Windows 10 Pro"},
};

ProfileRegistryValue Sz(std::u16string name, const std::u16string& text) {
    ProfileRegistryValue v{std::move(name), win::REG_SZ, {}};
    for (char16_t c : text) {
        v.data.push_back(static_cast<uint8_t>(c & 0xFF));
        v.data.push_back(static_cast<uint8_t>(c >> 8));
    }
    v.data.push_back(0);
    v.data.push_back(0);
    return v;
}

ProfileRegistryValue Dword(std::u16string name, uint32_t x) {
    ProfileRegistryValue v{std::move(name), win::REG_DWORD, {}};
    for (int i = 0; i < 4; ++i) {
        v.data.push_back(static_cast<uint8_t>(x >> (8 * i)));
    }
    return v;
}

std::u16string Num(uint32_t n) { return platform::Utf8ToUtf16(std::to_string(n)); }

}  // namespace

std::vector<ProfileRegistryKey> InitialRegistry(const MachineProfile& profile) {
    const ProfileOs& os = profile.os;
    std::u16string product = u"Microsoft Windows";
    for (const ProductName& p : kProductNames) {
        if (p.major == os.major && p.minor == os.minor) {
            product = p.name;
        }
    }
    std::vector<ProfileRegistryKey> keys;
    ProfileRegistryKey current{u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", {}};
    current.values.push_back(Sz(u"ProductName", product));
    // Windows 10 keeps reporting "6.3" here and adds the major/minor numbers separately.
    current.values.push_back(
        Sz(u"CurrentVersion", os.major >= 10 ? u"6.3" : Num(os.major) + u"." + Num(os.minor)));
    current.values.push_back(Sz(u"CurrentBuild", Num(os.build)));
    current.values.push_back(Sz(u"CurrentBuildNumber", Num(os.build)));
    if (!os.servicePack.empty()) {
        current.values.push_back(Sz(u"CSDVersion", os.servicePack));
    }
    if (os.major >= 10) {
        current.values.push_back(Dword(u"CurrentMajorVersionNumber", os.major));
        current.values.push_back(Dword(u"CurrentMinorVersionNumber", os.minor));
    }
    keys.push_back(std::move(current));

    ProfileRegistryKey fileSystem{u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\FileSystem", {}};
    fileSystem.values.push_back(Dword(u"NtfsDisable8dot3NameCreation", 0));
    fileSystem.values.push_back(Dword(u"NtfsDisableLastAccessUpdate", os.major >= 6 ? 1 : 0));
    if (os.major > 6 || (os.major == 6 && os.minor >= 1)) {
        // TRIM (delete notifications) is on by default from Windows 7 on.
        fileSystem.values.push_back(Dword(u"DisableDeleteNotification", 0));
    }
    keys.push_back(std::move(fileSystem));

    // The processor the System Info page names.
    ProfileRegistryKey cpu{u"HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", {}};
    if (!profile.hardware.processors.empty()) {
        const ProcessorProfile& p = profile.hardware.processors.front();
        cpu.values.push_back(Sz(u"ProcessorNameString", p.name));
        cpu.values.push_back(Sz(u"VendorIdentifier", p.manufacturer));
        cpu.values.push_back(Dword(u"~MHz", p.maxClockSpeed));
    }
    keys.push_back(std::move(cpu));

    // The profile's content comes last, so its values replace the defaults.
    keys.insert(keys.end(), profile.registry.begin(), profile.registry.end());
    return keys;
}

}  // namespace tarvex::sim
