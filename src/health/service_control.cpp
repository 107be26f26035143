#include "health/service_control.h"

#include <atomic>

#include <fmt/format.h>
#include <fmt/printf.h>

#include "app/console.h"
#include "app/progress_message.h"
#include "app/trace.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "health/self_test.h"
#include "platform/last_error.h"
#include "platform/platform.h"
#include "platform/text.h"
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

void StoreServiceStopOutcome(SelfTestThreadData& data, int32_t result, uint32_t error) {
    std::atomic_ref<int32_t>(data.error).store(static_cast<int32_t>(error));
    StoreThreadResult(data, result);
}

uint32_t LoadServiceStopError(const SelfTestThreadData& data) {
    return static_cast<uint32_t>(std::atomic_ref<int32_t>(const_cast<int32_t&>(data.error)).load());
}

std::u16string ServiceStopFailureText(uint32_t error) {
    const char* reason = "the service control manager refused the request";
    switch (error) {
        case win::ERROR_ACCESS_DENIED: reason = "access is denied"; break;
        case win::ERROR_GEN_FAILURE: reason = "the service control manager could not record the change"; break;
        case win::ERROR_SERVICE_REQUEST_TIMEOUT: reason = "it did not stop in time"; break;
        case win::ERROR_SERVICE_ALREADY_RUNNING: reason = "it is running"; break;
        case win::ERROR_SERVICE_DOES_NOT_EXIST: reason = "the service is not installed"; break;
        case win::ERROR_SERVICE_CANNOT_ACCEPT_CTRL: reason = "it cannot accept a stop request now"; break;
        default: break;
    }
    return platform::Utf8ToUtf16(
        fmt::format("Velmora Service could not be stopped: {} (error {}).", reason, error));
}

namespace {

struct StopOutcome {
    bool stopped = false;
    uint32_t error = 0;
};

// Stops the monitoring service and finds out whether it is stopped in the end.
StopOutcome StopMonitoringService(ATACommand& ata) {
    platform::SetLastError(0);
    const bool accepted = ata.SetServiceRunning(kMonitoringServiceName, false);
    const uint32_t stopError = accepted ? 0 : platform::GetLastError();
    // "Not active" and "cannot accept" follow the stop the page sent before this worker
    // started: the service is stopped or stopping already, and its state decides. Any other
    // refusal is the answer.
    if (!accepted && stopError != win::ERROR_SERVICE_NOT_ACTIVE &&
        stopError != win::ERROR_SERVICE_CANNOT_ACCEPT_CTRL) {
        return {false, stopError != 0 ? stopError : win::ERROR_GEN_FAILURE};
    }
    platform::Clock& clock = *platform::Current().clock;
    for (uint32_t waited = 0;; waited += kServiceStopPollMs) {
        platform::ServiceStatus status;
        if (!ata.QueryServiceState(kMonitoringServiceName, &status)) {
            const uint32_t error = platform::GetLastError();
            return {false, error != 0 ? error : win::ERROR_GEN_FAILURE};
        }
        if (status.currentState == win::SERVICE_STOPPED) {
            return {true, 0};
        }
        if (status.currentState != win::SERVICE_STOP_PENDING) {
            // Running or still starting: the stop did not take.
            return {false, stopError == win::ERROR_SERVICE_CANNOT_ACCEPT_CTRL ? stopError
                                                                              : win::ERROR_SERVICE_ALREADY_RUNNING};
        }
        if (waited >= kServiceStopWaitMs) {
            return {false, win::ERROR_SERVICE_REQUEST_TIMEOUT};
        }
        clock.Sleep(kServiceStopPollMs);
    }
}

}  // namespace

uint32_t ServiceStopThread(void* threadData) {
    // BusyOperation was claimed for the stop by the thread that started this worker.
    auto* pageData = static_cast<SelfTestThreadData*>(threadData);
    const SelfTestThreadData data = CopyThreadData(*pageData);

    platform::Windows& windows = *platform::Current().windows;
    const platform::Hwnd window = windows.FindWindow(data.windowTitle);
    if (window != platform::kNullHwnd) {
        windows.PostMessage(window, KORVANEMSG_PROGRESS, ProgressWParam(KORVANEMSG_WPARAM_PROGRESSSTART),
                            reinterpret_cast<intptr_t>(pageData));
    }
    const StopOutcome outcome = StopMonitoringService(GlobalAtaCommand());
    if (outcome.stopped) {
        Trace("ServiceStopThread: service stopped");
    } else {
        Trace("ServiceStopThread: service not stopped (%d)", static_cast<int>(outcome.error));
    }
    StoreServiceStopOutcome(*pageData, outcome.stopped ? kServiceStopSucceeded : kServiceStopFailed,
                            outcome.error);
    if (window != platform::kNullHwnd) {
        windows.PostMessage(window, KORVANEMSG_PROGRESS, ProgressWParam(KORVANEMSG_WPARAM_PROGRESSEND),
                            reinterpret_cast<intptr_t>(pageData));
    } else {
        // Without a window nobody handles the END that gives the claim back.
        ReleaseBusyOperation(kOperationServiceStop);
    }
    return 1;
}

}  // namespace tarvex
