#pragma once
// The Windows version as every device command sees it, with the two flags that steer the
// request forms: PassThroughCapable (ATA pass-through may be tried) and IsWindows8 (exactly
// 6.2). Every ATACommand and UnderlyingUtil classifies the OS in its constructor.
#include <cstdint>

#include "platform/system.h"

namespace tarvex {

// The exit code of a process whose OS classification cannot read the XP service-pack number.
inline constexpr int kStartupFatalExitCode = 1;

class OsVersionInfo {
public:
    // Classifies the OS of the installed platform.
    OsVersionInfo();
    explicit OsVersionInfo(platform::System& system);

    platform::OsVersionInfoExW osvi;
    int32_t PassThroughCapable = 0;
    int32_t IsWindows8 = 0;

    // Windows 5.1 whose service-pack text has no number after "Service Pack ". The program
    // ends there with exit code 1: the classification reports it and the program's entry
    // point ends the process (StartupFatalRequested).
    [[nodiscard]] bool Fatal() const { return fatal_; }

private:
    void Classify(platform::System& system);
    bool fatal_ = false;
};

// True once any classification in this process hit the fatal case.
bool StartupFatalRequested();
// Tests: forget an earlier fatal classification.
void ResetStartupFatalForTesting();

}  // namespace tarvex
