#pragma once
// CVARNO_KorvaneApp: the program's entry. It refuses a second copy on the same PC, makes the
// main window, runs it and ends the process when the window closes.
//
// The main window's title is claimed on the PC before anything else runs, in one step with
// the look-up, so of two copies started at once exactly one gets it; a copy that finds the
// title taken ends silently. The claim is given back when start-up fails.
#include <QObject>
#include <QString>
#include <memory>
#include <mutex>

#include "platform/windowing.h"
#include "ui/korvane_dlg.h"

namespace tarvex::ui {

// What scripted runs ask of the window, from the environment (documented in the README):
// TARVEX_GUI_SCREENSHOT (a PNG file of this computer for the first frame of the window),
// TARVEX_GUI_EXIT_AFTER_FIRST_FRAME=1 (close the window once it has been painted), and
// TARVEX_GUI_REPORT_FIRST_FRAME=1 (print the milliseconds from the program's start to the
// first frame on standard error).
struct GuiRunSettings {
    QString screenshotPath;
    bool exitAfterFirstFrame = false;
    bool reportFirstFrame = false;
    static GuiRunSettings FromEnvironment();
};

class CVARNO_KorvaneApp : public QObject {
    Q_OBJECT
public:
    CVARNO_KorvaneApp();
    ~CVARNO_KorvaneApp() override;

    // The whole run on the installed platform; returns FALSE in every case, as the process
    // ends when it returns.
    bool InitInstance();

    // The steps of InitInstance for tests: Start claims the title and brings the window up
    // (false: a second copy, or start-up failed); Finish destroys the window and gives the
    // title back.
    bool Start();
    void Finish();
    [[nodiscard]] CVARNO_KorvaneDlg* Dialog() const { return dialog_.get(); }
    // Whether the last Start found another copy's window.
    [[nodiscard]] bool SecondInstance() const { return secondInstance_; }

    void SetRunSettings(GuiRunSettings settings) { settings_ = std::move(settings); }
    // Milliseconds on a steady clock at which the program started (for the first-frame figure).
    void SetStartTime(int64_t steadyMs) { startMs_ = steadyMs; }

private:
    struct Mailbox;
    void OnFirstFrame();

    std::shared_ptr<Mailbox> mailbox_;
    platform::Hwnd hwnd_ = platform::kNullHwnd;
    std::unique_ptr<CVARNO_KorvaneDlg> dialog_;
    bool secondInstance_ = false;
    GuiRunSettings settings_;
    int64_t startMs_ = -1;
};

// The Tarvex program: the machine from the environment, the window on it; the exit code.
int RunTarvex(int argc, char** argv, int64_t startSteadyMs);

}  // namespace tarvex::ui
