#include "health/service_control.h"

#include <fmt/printf.h>

#include "app/console.h"
#include "app/progress_message.h"
#include "app/trace.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "health/self_test.h"
#include "platform/last_error.h"
#include "platform/platform.h"
#include "platform/win32_values.h"

namespace tarvex {

namespace {

constexpr uint32_t kScManagerConnect = win::SC_MANAGER_CONNECT;
constexpr uint32_t kServiceQueryStatus = win::SERVICE_QUERY_STATUS;
constexpr uint32_t kErrorCallNotImplemented = 120;

// OpenSCManagerW and OpenServiceW, printing the failure of either on the console.
struct OpenedService {
    std::unique_ptr<platform::ServiceManager> manager;
    std::unique_ptr<platform::Service> service;
};

OpenedService OpenServiceFor(std::u16string_view name, uint32_t access) {
    OpenedService opened;
    platform::Services* services = platform::Current().services;
    if (services != nullptr) {
        opened.manager = services->OpenSCManager(kScManagerConnect);
    } else {
        platform::SetLastError(kErrorCallNotImplemented);
    }
    if (!opened.manager) {
        ConsolePrint(fmt::sprintf("OpenSCManager failed w/err 0x%08lx\n",
                                  static_cast<unsigned long>(platform::GetLastError())));
        return opened;
    }
    opened.service = opened.manager->OpenService(name, access);
    if (!opened.service) {
        ConsolePrint(fmt::sprintf("OpenService failed w/err 0x%08lx\n",
                                  static_cast<unsigned long>(platform::GetLastError())));
    }
    return opened;
}

}  // namespace

bool ATACommand::QueryServiceState(std::u16string_view serviceName, platform::ServiceStatus* status) {
    OpenedService opened = OpenServiceFor(serviceName, kServiceQueryStatus);
    if (!opened.service) {
        return false;
    }
    platform::ServiceStatus ignored;
    return opened.service->QueryServiceStatus(status != nullptr ? status : &ignored);
}

bool ATACommand::SetServiceRunning(std::u16string_view serviceName, bool on) {
    OpenedService opened = OpenServiceFor(serviceName, win::SERVICE_ALL_ACCESS);
    if (!opened.service) {
        return false;
    }
    if (opened.service->ChangeServiceStartType(on ? win::SERVICE_AUTO_START : win::SERVICE_DEMAND_START)) {
        Trace(on ? "ChangeServiceConfig to auto start successfully" : "ChangeServiceConfig to demand start successfully");
    } else {
        Trace("ChangeServiceConfig failed (%d)", static_cast<int>(platform::GetLastError()));
    }
    if (on) {
        return opened.service->StartService();
    }
    platform::ServiceStatus status;
    return opened.service->ControlService(win::SERVICE_CONTROL_STOP, &status);
}

uint32_t ServiceStopThread(void* threadData) {
    auto* pageData = static_cast<SelfTestThreadData*>(threadData);
    const SelfTestThreadData data = CopyThreadData(*pageData);
    BusyOperation = kOperationServiceStop;

    platform::Windows& windows = *platform::Current().windows;
    const platform::Hwnd window = windows.FindWindow(data.windowTitle);
    if (window != platform::kNullHwnd) {
        windows.PostMessage(window, KORVANEMSG_PROGRESS, ProgressWParam(KORVANEMSG_WPARAM_PROGRESSSTART),
                            reinterpret_cast<intptr_t>(pageData));
    }
    (void)GlobalAtaCommand().SetServiceRunning(kMonitoringServiceName, false);
    if (window != platform::kNullHwnd) {
        windows.PostMessage(window, KORVANEMSG_PROGRESS, ProgressWParam(KORVANEMSG_WPARAM_PROGRESSEND),
                            reinterpret_cast<intptr_t>(pageData));
    } else {
        // Without a window nobody handles the END that clears the busy flag.
        BusyOperation = kOperationNone;
    }
    return 1;
}

}  // namespace tarvex
