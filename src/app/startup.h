#pragma once
// The part of start-up that needs no window, in the order the main window's construction and
// initialisation run it: OS classification, UI language, trace level 1, build banner and
// build number. Both the GUI and the CLI start this way.
#include "app/os_version_info.h"

namespace tarvex {

struct StartupCoreResult {
    OsVersionInfo os;
    bool fatal = false;  // the classification asked the process to end with exit code 1
};

StartupCoreResult RunStartupCore();

}  // namespace tarvex
