#include "app/startup.h"

#include "app/build_info.h"
#include "app/trace.h"
#include "app/ui_language.h"
#include "device/ata_command.h"

namespace tarvex {

StartupCoreResult RunStartupCore() {
    StartupCoreResult result;
    // The run's one ATACommand classifies the OS first, as it did before anything else ran.
    InitGlobalAtaCommand();
    if (result.os.Fatal()) {
        result.fatal = true;
        return result;
    }
    InitUiLanguage();
    SetTraceLevel(1);
    InitBuildBanner();
    ComputeBuildNumber();
    return result;
}

}  // namespace tarvex
