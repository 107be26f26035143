#pragma once
// System facts of the emulated PC, from its profile.
#include <array>
#include <map>
#include <mutex>
#include <string>

#include "platform/sim/machine_profile.h"
#include "platform/system.h"

namespace tarvex::sim {

// The locale name the runtime of a Windows PC with this UI language chooses for "";
// "English_United States.1252" for a language it does not know.
std::string DefaultLocaleOfLanguage(uint16_t uiLanguage);

class SimSystem : public platform::System {
public:
    // `moduleFileName`: the running program's full Windows path.
    SimSystem(const MachineProfile& profile, std::u16string moduleFileName);

    bool GetVersionEx(platform::OsVersionInfoExW* info) override;
    uint16_t GetUserDefaultUILanguage() override { return uiLanguage_; }
    uint32_t ConvertDefaultLocale(uint32_t locale) override;
    std::u16string GetCommandLine() override { return commandLine_; }
    std::optional<std::u16string> GetEnvironmentVariable(std::u16string_view name) override;
    std::u16string GetModuleFileName() override { return moduleFileName_; }
    std::string WideToAnsi(std::u16string_view text, char defaultChar, bool* usedDefault) override;
    std::u16string AnsiToWide(std::string_view text) override;
    // Never the host's setlocale: the emulated PC's runtime keeps its own locale per process.
    std::optional<std::string> SetLocale(int category, std::optional<std::u16string_view> locale) override;

    // The user's default locale, which SetLocale gives for "": the profile's `locale`, else
    // the one of its UI language.
    [[nodiscard]] const std::string& UserLocale() const { return userLocale_; }

    void SetCommandLine(std::u16string commandLine) { commandLine_ = std::move(commandLine); }

private:
    ProfileOs os_;
    uint16_t uiLanguage_;
    std::u16string commandLine_;
    std::u16string moduleFileName_;
    std::map<std::u16string, std::u16string> environment_;  // keyed by folded name
    std::string userLocale_;
    std::mutex localeMutex_;
    std::array<std::string, 6> locales_;  // by category; LC_ALL's slot is unused
};

}  // namespace tarvex::sim
