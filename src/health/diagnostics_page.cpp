#include "health/diagnostics_page.h"

#include <algorithm>
#include <system_error>

#include <fmt/format.h>

#include "app/messages.h"
#include "app/progress_message.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "health/alert_settings.h"
#include "health/service_control.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex {

namespace {

constexpr int kStringServiceStopping = 340;
constexpr int kStringServiceStopped = 341;
constexpr char16_t kErrorInput[] = u"error input";

// Where the bars sit while idle, and where a starting scan places its bar.
constexpr int kIdleBarX[2] = {21, 290};
constexpr int kIdleBarY = 208;
constexpr int kRunningBarX[2] = {21, 301};
constexpr int kRunningBarY = 210;

int KindOf(DiagnosticsPageLogic::Scan scan) {
    return scan == DiagnosticsPageLogic::kQuick ? kOperationQuickScan : kOperationFullScan;
}

const PhysicalDriveInfo* SelectedRecord() {
    const auto& table = PhysicalDriveTable();
    if (SelectedDrive < 0 || static_cast<size_t>(SelectedDrive) >= table.size()) {
        return nullptr;
    }
    return &table[static_cast<size_t>(SelectedDrive)];
}

std::u16string NumberText(int value) { return platform::Utf8ToUtf16(fmt::format("{}", value)); }

}  // namespace

int ScanResultStringId(DiagnosticsPageLogic::Scan scan, int result) {
    const int base = scan == DiagnosticsPageLogic::kQuick ? 268 : 271;
    if (result == kSelfTestSucceeded) {
        return base;
    }
    if (result == kSelfTestAborted) {
        return base + 1;
    }
    if (result >= 103 && result <= 110) {
        return base + 2;
    }
    return 0;
}

bool DeliverToDiagnosticsPage(DiagnosticsPageLogic& page, int currentPage, const platform::WindowMessage& message) {
    if (message.message != KORVANEMSG_PROGRESS || message.lParam == 0) {
        return false;
    }
    const auto* data = reinterpret_cast<const SelfTestThreadData*>(message.lParam);
    const int kind = PageDefinesThreadData(currentPage) ? data->operationKind : kOperationNone;
    const std::optional<ProgressForward> forward =
        RouteProgress(currentPage, kind, message.wParam, LoadThreadResult(*data));
    if (!forward || forward->page != kPageDiagnostics) {
        return false;
    }
    page.OnProgress(forward->code, data, forward->value);
    return true;
}

DiagnosticsPageLogic::DiagnosticsPageLogic() {
    for (int s = 0; s < 2; ++s) {
        scans_[s].barX = kIdleBarX[s];
        scans_[s].barY = kIdleBarY;
    }
}

DiagnosticsPageLogic::~DiagnosticsPageLogic() { JoinWorkers(); }

void DiagnosticsPageLogic::JoinWorkers() {
    for (std::thread* t : {&scanThreads_[0], &scanThreads_[1], &serviceStopThread_}) {
        if (t->joinable()) {
            t->join();
        }
    }
}

void DiagnosticsPageLogic::Initialize() {
    for (ScanControls& c : scans_) {
        c.cancelEnabled = false;
        c.barVisible = false;
    }
    LoadAlertSettings();
}

void DiagnosticsPageLogic::LoadAlertSettings() {
    const PhysicalDriveInfo* record = SelectedRecord();
    modelLabel_ = record != nullptr ? std::u16string(platform::FixedText(record->modelNumber)) : std::u16string();
    temperatureText_ = NumberText(ShownTemperatureAlert());
    lifeText_ = NumberText(ShownLifeAlert());
    LoadServiceBox();
}

void DiagnosticsPageLogic::LoadServiceBox() {
    platform::ServiceStatus status;
    const bool stopped = GlobalAtaCommand().QueryServiceState(kMonitoringServiceName, &status) &&
                         status.currentState == win::SERVICE_STOPPED;
    // Running, pending, or no answer: the thresholds stay locked while the service may use them.
    serviceTicked_ = !stopped;
    alertControlsEnabled_ = stopped;
}

const SelfTestThreadData& DiagnosticsPageLogic::ThreadData(int operationKind) const {
    if (operationKind == kOperationServiceStop) {
        return serviceStopData_;
    }
    return scanData_[operationKind == kOperationFullScan ? kFull : kQuick];
}

void DiagnosticsPageLogic::FillThreadData(SelfTestThreadData& data, int kind) {
    const PhysicalDriveInfo* record = SelectedRecord();
    data = SelfTestThreadData{};
    data.driveIndex = record != nullptr ? record->driveIndex : -1;
    data.selectedDrive = SelectedDrive;
    data.operationKind = kind;
    platform::CopyToFixed(data.windowTitle, kMainWindowTitle);
}

bool DiagnosticsPageLogic::Launch(std::thread& slot, uint32_t (*worker)(void*), SelfTestThreadData& data,
                                  int kind) {
    // The record is refilled only once the worker that used it before has ended (it has
    // posted its END already, so this does not wait long).
    if (slot.joinable()) {
        slot.join();
    }
    FillThreadData(data, kind);
    try {
        slot = std::thread([worker, &data] { (void)worker(&data); });
    } catch (const std::system_error&) {
        return false;  // no thread: the caller gives its claim back
    }
    return true;
}

void DiagnosticsPageLogic::Run(Scan scan) {
    const int kind = KindOf(scan);
    if (!ClaimBusyOperation(kind)) {
        ShowBusyRefusal();
        return;
    }
    if (SelectedRecord() == nullptr) {
        ReleaseBusyOperation(kind);
        return;  // no drive to test
    }
    ScanControls& c = scans_[scan];
    c.runEnabled = false;
    c.cancelEnabled = true;
    if (!Launch(scanThreads_[scan], &SelfTestThread, scanData_[scan], kind)) {
        c.runEnabled = true;
        c.cancelEnabled = false;
        ReleaseBusyOperation(kind);
    }
}

void DiagnosticsPageLogic::Cancel(Scan scan) {
    if (BusyOperation == KindOf(scan)) {
        SelfTestAbortRequested = 1;
    }
    if (const PhysicalDriveInfo* record = SelectedRecord(); record != nullptr) {
        (void)GlobalAtaCommand().DoSmartSelfTest(record->driveIndex, kSelfTestAbort);
    }
}

void DiagnosticsPageLogic::OnProgress(int code, const SelfTestThreadData* data, int value) {
    if (data == nullptr) {
        return;
    }
    const int kind = data->operationKind;
    if (kind == kOperationServiceStop) {
        if (code == KORVANEMSG_WPARAM_PROGRESSSTART) {
            (void)ShowResourceMessage(kStringServiceStopping);
        } else if (code == KORVANEMSG_WPARAM_PROGRESSEND) {
            ReleaseBusyOperation(kOperationServiceStop);
            if (value == kServiceStopSucceeded) {
                (void)ShowResourceMessage(kStringServiceStopped);
            } else {
                (void)ShowMessage(ServiceStopFailureText(LoadServiceStopError(*data)));
                LoadServiceBox();  // the box shows what the service really is
            }
            SelfTestAbortRequested = 0;
        }
        return;
    }
    if (kind != kOperationQuickScan && kind != kOperationFullScan) {
        return;
    }
    const Scan scan = kind == kOperationQuickScan ? kQuick : kFull;
    ScanControls& c = scans_[scan];
    switch (code) {
        case KORVANEMSG_WPARAM_PROGRESSSTART:
            c.barPosition = 0;
            c.barX = kRunningBarX[scan];
            c.barY = kRunningBarY;
            c.barVisible = true;
            break;
        case KORVANEMSG_WPARAM_PROGRESSING:
            c.barPosition = std::clamp(value, 0, 100);
            c.barVisible = true;
            break;
        case KORVANEMSG_WPARAM_PROGRESSEND: EndScan(scan, value); break;
        default: break;
    }
}

void DiagnosticsPageLogic::EndScan(Scan scan, int result) {
    ScanControls& c = scans_[scan];
    if (result == kSelfTestSucceeded) {
        c.barPosition = 100;
        c.barVisible = true;
    } else if (result == kSelfTestAborted) {
        c.barVisible = true;
    }
    if (const int id = ScanResultStringId(scan, result); id != 0) {
        (void)ShowResourceMessage(id);
    }
    c.barVisible = false;
    ReleaseBusyOperation(KindOf(scan));
    c.runEnabled = true;
    c.cancelEnabled = false;
    SelfTestAbortRequested = 0;
}

void DiagnosticsPageLogic::ApplyTemperature(std::u16string_view text) {
    temperatureText_ = std::u16string(text);
    ApplyAlert(text, &ATACommand::WriteTemperatureAlert);
}

void DiagnosticsPageLogic::ApplyLife(std::u16string_view text) {
    lifeText_ = std::u16string(text);
    ApplyAlert(text, &ATACommand::WriteLifeAlert);
}

void DiagnosticsPageLogic::ApplyAlert(std::u16string_view text, bool (ATACommand::*write)(int)) {
    if (BusyOperation != kOperationNone) {
        ShowBusyRefusal();
        return;
    }
    const std::optional<int32_t> value = ParseAlertInput(text);
    if (!value) {
        (void)ShowMessage(kErrorInput);
        return;
    }
    (void)(GlobalAtaCommand().*write)(*value);
}

void DiagnosticsPageLogic::ServiceBoxClicked(bool ticked) {
    ATACommand& ata = GlobalAtaCommand();
    (void)ata.SetServiceRunning(kMonitoringServiceName, false);
    // Turning the service off is a background operation and claims the busy flag here, before
    // its worker exists; turning it on only needs nothing else to run.
    const bool refused = ticked ? BusyOperation.load() != kOperationNone : !ClaimBusyOperation(kOperationServiceStop);
    if (refused) {
        ShowBusyRefusal();
        serviceTicked_ = !ticked;
        return;
    }
    if (ticked) {
        (void)ata.SetServiceRunning(kMonitoringServiceName, true);
        serviceTicked_ = true;
        alertControlsEnabled_ = false;
        return;
    }
    serviceTicked_ = false;
    alertControlsEnabled_ = true;
    if (!Launch(serviceStopThread_, &ServiceStopThread, serviceStopData_, kOperationServiceStop)) {
        ReleaseBusyOperation(kOperationServiceStop);
        LoadServiceBox();
    }
}

}  // namespace tarvex
