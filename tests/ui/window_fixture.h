#pragma once
// The main window on an emulated PC for GUI tests: a fresh machine and fresh process globals
// per start, the window shown on the offscreen platform, clicks by control id, the message
// boxes the PC recorded, the trace text and screenshots kept as test artefacts
// (TARVEX_UI_ARTEFACTS).
#include <QApplication>
#include <QDir>
#include <QTest>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/progress_message.h"
#include "app/trace.h"
#include "app/ui_language.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "health/self_test.h"
#include "platform/sim/embedded_profiles.h"
#include "support/test_machine.h"
#include "sysinfo/system_info.h"
#include "ui/controls/bmp_btn_ctrl.h"
#include "ui/korvane_app.h"
#include "ui/pages/diagnostics_page.h"

namespace tarvex::test {

inline nlohmann::json DemoProfile() { return nlohmann::json::parse(sim::FindEmbeddedProfile("demo")->text); }

// A PC with `count` SATA drives of 64, 128, ... GB.
inline nlohmann::json DrivesProfile(int count) {
    nlohmann::json p = BaseProfile();
    p["disks"] = nlohmann::json::array();
    for (int i = 0; i < count; ++i) {
        p["disks"].push_back({{"number", i},
                              {"kind", "sata"},
                              {"model", "VARNO TL30A " + std::to_string(64 * (i + 1)) + "GB"},
                              {"serial", "VR00000000" + std::to_string(10 + i)},
                              {"firmware", "1.08"},
                              {"capacityBytes", 64000000000ull * static_cast<uint64_t>(i + 1)}});
    }
    return p;
}

inline QString Q(std::u16string_view s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }

class WindowFixture {
public:
    virtual ~WindowFixture() { Stop(); }

    static void ResetGlobals() {
        BusyOperation = 0;
        SelfTestAbortRequested = 0;
        PhysicalDriveTable().clear();
        DriveCount = 0;
        SelectedDrive = 0;
        SelectedPartition = 0;
        UiLanguageId = 1033;
        ResetSystemInfoForTesting();
        ResetTraceForTesting();
        SetTraceLevel(0);
    }

    // A new PC from `profile`, `beforeStart` run on it, then the program's start-up and the
    // window shown. False when start-up ended the program.
    bool Start(const nlohmann::json& profile, const std::function<void()>& beforeStart = {}) {
        Stop();
        ResetGlobals();
        machine_ = std::make_unique<TestMachine>(profile);
        if (beforeStart) {
            beforeStart();
        }
        InitGlobalAtaCommand();
        app_ = std::make_unique<ui::CVARNO_KorvaneApp>();
        if (!app_->Start()) {
            return false;
        }
        Dlg()->show();
        return QTest::qWaitForWindowExposed(Dlg());
    }

    void Stop() {
        if (app_ && app_->Dialog() != nullptr) {
            if (auto* diagnostics = qobject_cast<ui::CDiagnoticsPage*>(app_->Dialog()->Page(kPageDiagnostics))) {
                diagnostics->Logic().JoinWorkers();
            }
        }
        app_.reset();
        machine_.reset();
        ResetGlobals();
    }

    [[nodiscard]] ui::CVARNO_KorvaneDlg* Dlg() const { return app_->Dialog(); }
    // A click on the main window's control `id` (false when there is none).
    bool Click(int id) {
        auto* button = Dlg()->Button(id);
        if (button == nullptr) {
            return false;
        }
        QTest::mouseClick(button, Qt::LeftButton);
        return true;
    }
    [[nodiscard]] std::vector<sim::SimDialogs::Shown> Shown() const { return machine_->Machine().Dialogs().ShownDialogs(); }
    [[nodiscard]] std::string TraceText() const {
        std::ifstream in(machine_->Host(TraceFilePath()));
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Saves a grab of `widget` (the main window when none) as <artefacts>/<name>.png.
    static bool SaveArtefact(QWidget* widget, const QString& name) {
        const QString dir = qEnvironmentVariable("TARVEX_UI_ARTEFACTS");
        if (dir.isEmpty()) {
            return true;
        }
        QDir().mkpath(dir);
        return widget->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
    }
    bool SaveArtefact(const QString& name) const { return SaveArtefact(Dlg(), name); }

protected:
    std::unique_ptr<TestMachine> machine_;
    std::unique_ptr<ui::CVARNO_KorvaneApp> app_;
};

}  // namespace tarvex::test
