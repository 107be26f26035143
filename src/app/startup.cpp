#include "app/startup.h"

#include "app/build_info.h"
#include "app/trace.h"
#include "app/ui_language.h"

namespace tarvex {

StartupCoreResult RunStartupCore() {
    StartupCoreResult result;
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
