#pragma once
// What the Diagnostics page does, without its widgets: the two self-test scans (Run, Cancel,
// the progress messages and the END messages), the alert thresholds and the service switch.
// The page's widgets read the control states from here and forward each click and each
// progress message; every message box goes through the platform's dialogs.
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "health/self_test.h"
#include "platform/windowing.h"

namespace tarvex {

class ATACommand;

class DiagnosticsPageLogic {
public:
    enum Scan { kQuick = 0, kFull = 1 };

    struct ScanControls {
        bool runEnabled = true;
        bool cancelEnabled = false;
        bool barVisible = false;
        int barPosition = 0;  // 0..100
        int barX = 0;         // where the bar sits in the page
        int barY = 0;
    };

    DiagnosticsPageLogic();
    // Waits for the workers it started: their thread data lives here.
    ~DiagnosticsPageLogic();
    DiagnosticsPageLogic(const DiagnosticsPageLogic&) = delete;
    DiagnosticsPageLogic& operator=(const DiagnosticsPageLogic&) = delete;

    // Page creation: both Cancel buttons disabled, both bars hidden, then LoadAlertSettings.
    void Initialize();
    // Fills the model labels, the two thresholds and the service box from the selected drive,
    // the registry and the service control manager (also at every page refresh).
    void LoadAlertSettings();

    // Run and Cancel of a scan.
    void Run(Scan scan);
    void Cancel(Scan scan);
    // A progress message forwarded by the main window: code 1..3, the worker's thread data,
    // and the value (0, the percentage, or the result).
    void OnProgress(int code, const SelfTestThreadData* data, int value);

    // The Apply buttons with the text of their edit box.
    void ApplyTemperature(std::u16string_view text);
    void ApplyLife(std::u16string_view text);
    // A click on the service box; `ticked` is the box's state after the click.
    void ServiceBoxClicked(bool ticked);

    [[nodiscard]] const ScanControls& Controls(Scan scan) const { return scans_[scan]; }
    [[nodiscard]] const std::u16string& ModelLabel() const { return modelLabel_; }
    [[nodiscard]] const std::u16string& TemperatureText() const { return temperatureText_; }
    [[nodiscard]] const std::u16string& LifeText() const { return lifeText_; }
    [[nodiscard]] bool ServiceTicked() const { return serviceTicked_; }
    // The two edit boxes and the two Apply buttons.
    [[nodiscard]] bool AlertControlsEnabled() const { return alertControlsEnabled_; }
    // The records the workers post (the main window reads the operation kind from them).
    [[nodiscard]] const SelfTestThreadData& ThreadData(int operationKind) const;

    // Waits until no worker of this page runs any more (tests, and the page going away).
    void JoinWorkers();

private:
    void FillThreadData(SelfTestThreadData& data, int kind);
    // The service box and the alert controls from the service's state.
    void LoadServiceBox();
    void EndScan(Scan scan, int result);
    void ApplyAlert(std::u16string_view text, bool (ATACommand::*write)(int));
    // Joins the slot's previous worker, fills `data` for `kind` and starts `worker` on it;
    // false when no thread could be made. The caller holds the busy claim for `kind`.
    bool Launch(std::thread& slot, uint32_t (*worker)(void*), SelfTestThreadData& data, int kind);

    ScanControls scans_[2];
    std::u16string modelLabel_;
    std::u16string temperatureText_;
    std::u16string lifeText_;
    bool serviceTicked_ = false;
    bool alertControlsEnabled_ = true;

    SelfTestThreadData scanData_[2];
    SelfTestThreadData serviceStopData_;
    std::thread scanThreads_[2];
    std::thread serviceStopThread_;
};

// The string a scan's END shows for a result (0: none).
int ScanResultStringId(DiagnosticsPageLogic::Scan scan, int result);

// The main window's handling of one posted message while `currentPage` is active: a
// KORVANEMSG_PROGRESS whose operation kind (read from the Diagnostics record) routes to the
// Diagnostics page is passed to `page`. True when it was delivered.
bool DeliverToDiagnosticsPage(DiagnosticsPageLogic& page, int currentPage, const platform::WindowMessage& message);

}  // namespace tarvex
