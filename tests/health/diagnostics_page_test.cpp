// The Diagnostics page's logic on the demo PC: whole self-test runs on the emulated drives in
// virtual time, Cancel, the busy refusals, the END messages, the alert thresholds and the
// service switch.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/progress_message.h"
#include "app/string_table.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "health/diagnostics_page.h"
#include "health/service_control.h"
#include "platform/sim/embedded_profiles.h"
#include "platform/win32_values.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

nlohmann::json DemoProfile() { return nlohmann::json::parse(sim::FindEmbeddedProfile("demo")->text); }

class DiagnosticsPageTest : public ::testing::Test {
protected:
    DiagnosticsPageTest() { Open(DemoProfile()); }
    // A fresh PC with this profile, its drives scanned, and a freshly initialised page.
    void Open(const nlohmann::json& profile) {
        page_.reset();
        machine_.reset();
        machine_ = std::make_unique<test::TestMachine>(profile);
        InitGlobalAtaCommand();
        BusyOperation = 0;
        SelfTestAbortRequested = 0;
        PhysicalDriveTable().clear();
        DriveCount = GlobalAtaCommand().UpdatePhysicalDrivesInfo(PhysicalDriveTable());
        SelectedDrive = 0;
        window_ = Machine().Windows().RegisterWindow(kMainWindowTitle, nullptr);
        page_ = std::make_unique<DiagnosticsPageLogic>();
        page_->Initialize();
    }
    ~DiagnosticsPageTest() override {
        page_.reset();
        BusyOperation = 0;
        SelfTestAbortRequested = 0;
        PhysicalDriveTable().clear();
        DriveCount = 0;
    }

    // The main window's message loop: every queued message goes through the main window's
    // routing, with `currentPage` active. Returns how many reached the page.
    int Pump(int currentPage = kPageDiagnostics) {
        int delivered = 0;
        for (const platform::WindowMessage& m : Machine().Windows().TakeMessages(window_)) {
            delivered += DeliverToDiagnosticsPage(*page_, currentPage, m) ? 1 : 0;
        }
        return delivered;
    }
    // Lets the page's workers finish, then handles what they posted.
    void Finish() {
        page_->JoinWorkers();
        Pump();
    }
    std::vector<std::u16string> Messages() {
        std::vector<std::u16string> texts;
        for (const auto& shown : Machine().Dialogs().ShownDialogs()) {
            texts.push_back(shown.text);
        }
        return texts;
    }
    static std::u16string String(int id) { return std::u16string(LoadResourceString(id)); }
    bool Idle() {
        for (auto scan : {DiagnosticsPageLogic::kQuick, DiagnosticsPageLogic::kFull}) {
            const auto& c = page_->Controls(scan);
            if (!c.runEnabled || c.cancelEnabled || c.barVisible) {
                return false;
            }
        }
        return BusyOperation == 0 && SelfTestAbortRequested == 0;
    }

    sim::SimMachine& Machine() { return machine_->Machine(); }

    std::unique_ptr<test::TestMachine> machine_;
    platform::Hwnd window_ = platform::kNullHwnd;
    std::unique_ptr<DiagnosticsPageLogic> page_;
};

TEST_F(DiagnosticsPageTest, AFullScanRunsToItsEndInVirtualTime) {
    EXPECT_TRUE(Idle());
    EXPECT_EQ(page_->ModelLabel(), u"VARNO TL30A 256GB");
    page_->Run(DiagnosticsPageLogic::kFull);
    EXPECT_FALSE(page_->Controls(DiagnosticsPageLogic::kFull).runEnabled);
    EXPECT_TRUE(page_->Controls(DiagnosticsPageLogic::kFull).cancelEnabled);
    EXPECT_TRUE(page_->Controls(DiagnosticsPageLogic::kQuick).runEnabled) << "only the started scan changes";
    page_->JoinWorkers();

    // The demo drive's extended test takes 15 minutes: 180 polls of 5 seconds.
    const auto posted = Machine().Windows().PostedMessages();
    EXPECT_GE(posted.size(), 180u);
    EXPECT_GE(Machine().Clock().ElapsedMs(), 900 * 1000);
    EXPECT_EQ(Pump(), static_cast<int>(posted.size()));
    EXPECT_EQ(Messages(), std::vector<std::u16string>{String(271)});
    EXPECT_EQ(page_->Controls(DiagnosticsPageLogic::kFull).barPosition, 100);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(GlobalAtaCommand().GetSelfTestStatus(0), 0x00) << "the drive passed";
}

TEST_F(DiagnosticsPageTest, ProgressMovesTheBarOfTheRunningScan) {
    page_->Run(DiagnosticsPageLogic::kQuick);
    page_->JoinWorkers();
    auto messages = Machine().Windows().TakeMessages(window_);
    ASSERT_GE(messages.size(), 3u);
    ASSERT_TRUE(DeliverToDiagnosticsPage(*page_, kPageDiagnostics, messages[0]));
    const auto& quick = page_->Controls(DiagnosticsPageLogic::kQuick);
    EXPECT_TRUE(quick.barVisible);
    EXPECT_EQ(quick.barPosition, 0);
    EXPECT_EQ(quick.barX, 21);
    EXPECT_EQ(quick.barY, 210);

    // While another page is current the progress is not delivered; the bar catches up with
    // the next message after the user returns.
    EXPECT_FALSE(DeliverToDiagnosticsPage(*page_, kPageDriveInfo, messages[1]));
    EXPECT_EQ(quick.barPosition, 0);
    ASSERT_TRUE(DeliverToDiagnosticsPage(*page_, kPageDiagnostics, messages[2]));
    EXPECT_GT(quick.barPosition, 0);
    for (size_t i = 3; i < messages.size(); ++i) {
        DeliverToDiagnosticsPage(*page_, kPageDiagnostics, messages[i]);
    }
    EXPECT_EQ(Messages(), std::vector<std::u16string>{String(268)});
    EXPECT_TRUE(Idle());
}

TEST_F(DiagnosticsPageTest, CancelAbortsTheTestOnTheDriveAndEndsAsAborted) {
    nlohmann::json profile = DemoProfile();
    profile["disks"][0]["sata"]["selfTest"]["shortSeconds"] = 15240;  // the longest a drive may announce
    Open(profile);
    page_->Run(DiagnosticsPageLogic::kQuick);
    // Wait (in real time) until the worker has polled once, so the test runs on the drive.
    while (Machine().Windows().PostedMessages().size() < 2) {
        std::this_thread::yield();
    }
    page_->Cancel(DiagnosticsPageLogic::kQuick);
    EXPECT_EQ(SelfTestAbortRequested.load(), 1);
    Finish();
    EXPECT_EQ(Messages(), std::vector<std::u16string>{String(269)});
    EXPECT_TRUE(Idle());
    EXPECT_EQ(GlobalAtaCommand().GetSelfTestStatus(0) >> 4, 1) << "aborted by the host on the drive";
}

TEST_F(DiagnosticsPageTest, EveryActionIsRefusedWhileAScanRuns) {
    BusyOperation = kOperationQuickScan;  // a scan is under way
    page_->Run(DiagnosticsPageLogic::kFull);
    page_->Run(DiagnosticsPageLogic::kQuick);
    page_->ApplyTemperature(u"60");
    EXPECT_EQ(Messages(), std::vector<std::u16string>(3, String(247)));
    EXPECT_TRUE(page_->Controls(DiagnosticsPageLogic::kFull).runEnabled);
    EXPECT_TRUE(Machine().Windows().PostedMessages().empty()) << "no worker started";
    EXPECT_EQ(GlobalAtaCommand().ReadTemperatureAlert(), -1) << "nothing stored";
}

TEST_F(DiagnosticsPageTest, AFailedQuickScanShowsTheFailureAndResetsThePage) {
    nlohmann::json profile = DemoProfile();
    profile["disks"][0]["sata"]["selfTest"]["failures"] =
        nlohmann::json::parse(R"([{"test": "short", "status": 3, "atPercent": 30}])");
    Open(profile);
    page_->Run(DiagnosticsPageLogic::kQuick);
    Finish();
    EXPECT_EQ(Messages(), std::vector<std::u16string>{String(270)});
    EXPECT_TRUE(Idle());

    // A drive that cannot report its status (here the NVMe drive, which has no ATA
    // self-test) ends as a failure too, never as a success.
    SelectedDrive = 2;
    ASSERT_EQ(PhysicalDriveTable()[2].interfaceKind, NvmeInterface);
    page_->Run(DiagnosticsPageLogic::kFull);
    Finish();
    EXPECT_EQ(Messages().back(), String(273));
    EXPECT_TRUE(Idle());
}

TEST_F(DiagnosticsPageTest, ApplyStoresOnlyNumbers) {
    ATACommand& ata = GlobalAtaCommand();
    page_->ApplyTemperature(u"75");
    EXPECT_EQ(ata.ReadTemperatureAlert(), 75);
    page_->ApplyTemperature(u"75C");
    EXPECT_EQ(Messages(), std::vector<std::u16string>{u"error input"});
    EXPECT_EQ(ata.ReadTemperatureAlert(), 75) << "nothing stored";
    page_->ApplyTemperature(u"");
    EXPECT_EQ(ata.ReadTemperatureAlert(), 0);
    page_->ApplyLife(u" -5");
    page_->LoadAlertSettings();
    EXPECT_EQ(page_->LifeText(), u"100");
    EXPECT_EQ(ata.ReadLifeAlert(), 100) << "rewritten when loaded";
    EXPECT_EQ(page_->TemperatureText(), u"0");
}

nlohmann::json WithService(const char* state) {
    nlohmann::json profile = DemoProfile();
    profile["services"] = nlohmann::json::array(
        {{{"name", "VARNO Velmora Service"}, {"startType", std::string(state) == "running" ? "auto" : "demand"},
          {"state", state}}});
    return profile;
}

platform::ServiceStatus ServiceState() {
    platform::ServiceStatus status;
    EXPECT_TRUE(GlobalAtaCommand().QueryServiceState(u"VARNO Velmora Service", &status));
    return status;
}

TEST_F(DiagnosticsPageTest, TheServiceBoxMirrorsTheServiceAndLocksTheThresholds) {
    Open(WithService("running"));
    EXPECT_TRUE(page_->ServiceTicked());
    EXPECT_FALSE(page_->AlertControlsEnabled());

    // Unticking stops the service in the background: START and END of kind 3.
    page_->ServiceBoxClicked(false);
    EXPECT_FALSE(page_->ServiceTicked());
    EXPECT_TRUE(page_->AlertControlsEnabled());
    Finish();
    EXPECT_EQ(Messages(), (std::vector<std::u16string>{String(340), String(341)}));
    EXPECT_EQ(ServiceState().currentState, win::SERVICE_STOPPED);
    EXPECT_TRUE(Idle());
    page_->LoadAlertSettings();
    EXPECT_FALSE(page_->ServiceTicked());

    // Ticking turns it on at once, without a background operation.
    page_->ServiceBoxClicked(true);
    EXPECT_TRUE(page_->ServiceTicked());
    EXPECT_FALSE(page_->AlertControlsEnabled());
    EXPECT_EQ(ServiceState().currentState, win::SERVICE_RUNNING);
    EXPECT_EQ(Messages().size(), 2u);
}

TEST_F(DiagnosticsPageTest, AClickWhileAScanRunsIsRefusedButTheServiceIsStoppedAlready) {
    Open(WithService("running"));
    BusyOperation = kOperationFullScan;
    page_->ServiceBoxClicked(false);
    EXPECT_EQ(Messages(), std::vector<std::u16string>{String(247)});
    EXPECT_TRUE(page_->ServiceTicked()) << "the box returns to its former state";
    EXPECT_EQ(ServiceState().currentState, win::SERVICE_STOPPED) << "told to stop before the busy test";
    EXPECT_TRUE(Machine().Windows().PostedMessages().empty());
}

TEST_F(DiagnosticsPageTest, AMissingServiceShowsTheBoxTickedAndItsStopFails) {
    nlohmann::json profile = DemoProfile();
    profile.erase("services");
    Open(profile);
    EXPECT_TRUE(page_->ServiceTicked());
    EXPECT_FALSE(page_->AlertControlsEnabled());
    page_->ServiceBoxClicked(false);
    Finish();
    EXPECT_EQ(Messages(),
              (std::vector<std::u16string>{
                  String(340), u"Velmora Service could not be stopped: the service is not installed (error 1060)."}))
        << "no success after a stop that failed";
    EXPECT_TRUE(page_->ServiceTicked()) << "the box shows what the service is: unknown, so locked";
    EXPECT_FALSE(page_->AlertControlsEnabled());
    EXPECT_TRUE(Idle());
    EXPECT_EQ(LoadThreadResult(page_->ThreadData(kOperationServiceStop)), kServiceStopFailed);
}

nlohmann::json WithSlowService(const char* state, int startSeconds, int stopSeconds) {
    nlohmann::json profile = WithService(state);
    profile["services"][0]["startSeconds"] = startSeconds;
    profile["services"][0]["stopSeconds"] = stopSeconds;
    return profile;
}

TEST_F(DiagnosticsPageTest, AStopThatFailsSaysWhyAndTheBoxShowsTheRealState) {
    // The service manager cannot record the change: the service keeps running.
    Open(WithService("running"));
    ::setenv("TARVEX_FAIL_WRITE", "EIO:services.json", 1);
    page_->ServiceBoxClicked(false);
    EXPECT_FALSE(page_->ServiceTicked()) << "cleared by the click";
    Finish();
    EXPECT_EQ(Messages().back(),
              u"Velmora Service could not be stopped: the service control manager could not record the change "
              u"(error 31).");
    EXPECT_TRUE(page_->ServiceTicked());
    EXPECT_FALSE(page_->AlertControlsEnabled());
    EXPECT_TRUE(Idle());
    ::unsetenv("TARVEX_FAIL_WRITE");
    EXPECT_EQ(ServiceState().currentState, win::SERVICE_RUNNING);

    // A service still starting cannot take a stop request.
    Open(WithSlowService("stopped", 5, 0));
    page_->ServiceBoxClicked(true);
    ASSERT_EQ(ServiceState().currentState, win::SERVICE_START_PENDING);
    page_->ServiceBoxClicked(false);
    Finish();
    EXPECT_EQ(Messages().back(),
              u"Velmora Service could not be stopped: it cannot accept a stop request now (error 1061).");
    EXPECT_TRUE(page_->ServiceTicked());
    EXPECT_TRUE(Idle());

    // A stop that takes a while is waited for on the PC's clock, and then it worked.
    Open(WithSlowService("running", 0, 3));
    page_->ServiceBoxClicked(false);
    Finish();
    EXPECT_EQ(Messages(), (std::vector<std::u16string>{String(340), String(341)}));
    EXPECT_EQ(ServiceState().currentState, win::SERVICE_STOPPED);
    EXPECT_FALSE(page_->ServiceTicked());
    EXPECT_TRUE(page_->AlertControlsEnabled());
    EXPECT_GE(Machine().Clock().ElapsedMs(), 3000);

    // One that takes longer than the wait is not reported as stopped.
    Open(WithSlowService("running", 0, 600));
    page_->ServiceBoxClicked(false);
    Finish();
    EXPECT_EQ(Messages().back(), u"Velmora Service could not be stopped: it did not stop in time (error 1053).");
    EXPECT_EQ(ServiceState().currentState, win::SERVICE_STOP_PENDING);
    EXPECT_TRUE(page_->ServiceTicked()) << "stop pending: the thresholds stay locked";
    EXPECT_TRUE(Idle());
    EXPECT_GE(Machine().Clock().ElapsedMs(), static_cast<int64_t>(kServiceStopWaitMs));
}

TEST_F(DiagnosticsPageTest, TheBusyFlagIsClaimedBeforeTheWorkerStartsAndFreedOnlyByItsOwner) {
    Open(WithService("running"));
    page_->ServiceBoxClicked(false);
    // Claimed by the click itself: a Run in the moment before the worker runs is refused.
    EXPECT_EQ(BusyOperation.load(), kOperationServiceStop);
    page_->Run(DiagnosticsPageLogic::kQuick);
    EXPECT_TRUE(page_->Controls(DiagnosticsPageLogic::kQuick).runEnabled) << "no scan started";
    Finish();
    EXPECT_EQ(Messages(), (std::vector<std::u16string>{String(247), String(340), String(341)}));
    EXPECT_TRUE(Idle());

    // A scan claims the flag when Run is pressed, and an END of another operation leaves
    // that claim alone.
    page_->Run(DiagnosticsPageLogic::kFull);
    EXPECT_EQ(BusyOperation.load(), kOperationFullScan);
    page_->OnProgress(KORVANEMSG_WPARAM_PROGRESSEND, &page_->ThreadData(kOperationServiceStop), kServiceStopSucceeded);
    EXPECT_EQ(BusyOperation.load(), kOperationFullScan) << "the service stop's END frees only its own claim";
    page_->OnProgress(KORVANEMSG_WPARAM_PROGRESSEND, &page_->ThreadData(kOperationQuickScan), kSelfTestSucceeded);
    EXPECT_EQ(BusyOperation.load(), kOperationFullScan) << "nor does the other scan's";
    Finish();
    EXPECT_EQ(Messages().back(), String(271));
    EXPECT_TRUE(Idle());
}

TEST_F(DiagnosticsPageTest, PostsHandledWhileTheWorkerRunsEndTheScan) {
    // As the main window does: its thread handles each post while the worker goes on.
    page_->Run(DiagnosticsPageLogic::kQuick);
    int delivered = 0;
    while (BusyOperation.load() != kOperationNone) {
        delivered += Pump();
        std::this_thread::yield();
    }
    page_->JoinWorkers();
    delivered += Pump();
    EXPECT_GE(delivered, 3) << "START, some PROGRESSING, END";
    EXPECT_EQ(Messages(), std::vector<std::u16string>{String(268)});
    EXPECT_TRUE(Idle());
    EXPECT_EQ(LoadThreadResult(page_->ThreadData(kOperationQuickScan)), kSelfTestSucceeded);
}

TEST_F(DiagnosticsPageTest, AStoppedServiceLeavesTheThresholdsEditable) {
    Open(WithService("stopped"));
    EXPECT_FALSE(page_->ServiceTicked());
    EXPECT_TRUE(page_->AlertControlsEnabled());
    EXPECT_EQ(page_->TemperatureText(), u"70");
    EXPECT_EQ(page_->LifeText(), u"10");
}

}  // namespace
}  // namespace tarvex
