#include "ui/korvane_app.h"

#include <QApplication>
#include <QProcessEnvironment>
#include <chrono>
#include <cstdio>

#include "app/os_version_info.h"
#include "app/progress_message.h"
#include "app/trace.h"
#include "device/ata_command.h"
#include "platform/machine_control.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "ui/gui_dialogs.h"

namespace tarvex::ui {

// Posts reach the window through here: the platform calls the sink on the posting thread,
// and the message is queued to the GUI thread, in the order of posting.
struct CVARNO_KorvaneApp::Mailbox {
    std::mutex mutex;
    QObject* receiver = nullptr;
    CVARNO_KorvaneApp* app = nullptr;
};

GuiRunSettings GuiRunSettings::FromEnvironment() {
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    GuiRunSettings settings;
    settings.screenshotPath = environment.value(QStringLiteral("TARVEX_GUI_SCREENSHOT"));
    settings.exitAfterFirstFrame = environment.value(QStringLiteral("TARVEX_GUI_EXIT_AFTER_FIRST_FRAME")) == QLatin1String("1");
    settings.reportFirstFrame = environment.value(QStringLiteral("TARVEX_GUI_REPORT_FIRST_FRAME")) == QLatin1String("1");
    return settings;
}

CVARNO_KorvaneApp::CVARNO_KorvaneApp() : mailbox_(std::make_shared<Mailbox>()) {
    mailbox_->receiver = this;
    mailbox_->app = this;
}

CVARNO_KorvaneApp::~CVARNO_KorvaneApp() { Finish(); }

bool CVARNO_KorvaneApp::Start() {
    secondInstance_ = false;
    platform::Windows* windows = platform::Current().windows;
    // 1. One copy per PC: the title is looked up and taken in one step.
    if (windows != nullptr) {
        std::weak_ptr<Mailbox> weak = mailbox_;
        hwnd_ = windows->ClaimWindow(kMainWindowTitle, [weak](const platform::WindowMessage& message) {
            const auto box = weak.lock();
            if (!box) {
                return;
            }
            std::lock_guard lock(box->mutex);
            if (box->receiver == nullptr) {
                return;
            }
            QMetaObject::invokeMethod(
                box->receiver,
                [box, message] {
                    CVARNO_KorvaneApp* app = box->app;
                    if (app != nullptr && app->dialog_ && message.message == KORVANEMSG_PROGRESS) {
                        (void)app->dialog_->OnKorvaneProgress(message);
                    }
                },
                Qt::QueuedConnection);
        });
        if (hwnd_ == platform::kNullHwnd) {
            secondInstance_ = true;
            return false;
        }
    }
    // 2..4. The window, made and initialised.
    dialog_ = std::make_unique<CVARNO_KorvaneDlg>();
    // The window's own OS classification may end the program (Windows 5.1 without a
    // service-pack number): exit code 1, no window.
    if (StartupFatalRequested()) {
        Finish();
        return false;
    }
    if (auto* dialogs = dynamic_cast<GuiDialogs*>(platform::Current().dialogs)) {
        dialogs->SetOwner(dialog_.get());
    }
    connect(dialog_.get(), &CVARNO_KorvaneDlg::FirstFramePainted, this, &CVARNO_KorvaneApp::OnFirstFrame);
    if (!dialog_->OnInitDialog(hwnd_)) {
        Finish();
        return false;
    }
    return true;
}

void CVARNO_KorvaneApp::Finish() {
    if (dialog_) {
        if (auto* dialogs = dynamic_cast<GuiDialogs*>(platform::Current().dialogs)) {
            dialogs->SetOwner(nullptr);
        }
        dialog_.reset();
    }
    {
        std::lock_guard lock(mailbox_->mutex);
        mailbox_->receiver = nullptr;
        mailbox_->app = nullptr;
    }
    if (hwnd_ != platform::kNullHwnd) {
        if (platform::Windows* windows = platform::Current().windows) {
            windows->UnregisterWindow(hwnd_);
        }
        hwnd_ = platform::kNullHwnd;
    }
    // A later Start gets a fresh mailbox.
    mailbox_ = std::make_shared<Mailbox>();
    mailbox_->receiver = this;
    mailbox_->app = this;
}

bool CVARNO_KorvaneApp::InitInstance() {
    if (Start()) {
        (void)dialog_->RunModalLoop();
    }
    Finish();
    return false;
}

void CVARNO_KorvaneApp::OnFirstFrame() {
    if (!dialog_) {
        return;
    }
    if (settings_.reportFirstFrame && startMs_ >= 0) {
        const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count();
        std::fprintf(stderr, "first frame after %lld ms\n", static_cast<long long>(now - startMs_));
    }
    if (!settings_.screenshotPath.isEmpty()) {
        const QPixmap frame = dialog_->grab();
        if (!frame.save(settings_.screenshotPath, "PNG")) {
            std::fprintf(stderr, "Tarvex: cannot save the screenshot to %s\n", settings_.screenshotPath.toLocal8Bit().constData());
        }
    }
    if (settings_.exitAfterFirstFrame) {
        dialog_->EndDialog(0);
    }
}

int RunTarvex(int argc, char** argv, int64_t startSteadyMs) {
    // Qt takes no switches from our command line: the program's own are "-UpgradeFw" and "-a".
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    QApplication::setApplicationName(QStringLiteral("Tarvex"));
    // The application's own profile key; nothing is stored under it.
    QApplication::setOrganizationName(QStringLiteral("QUELT Tarvex"));
    QApplication::setQuitOnLastWindowClosed(false);

    std::u16string arguments;
    for (int i = 1; i < argc; ++i) {
        if (!arguments.empty()) {
            arguments += u' ';
        }
        arguments += platform::Utf8ToUtf16(argv[i]);
    }
    platform::MachineRequest request;
    request.moduleName = u"Tarvex.exe";
    request.arguments = arguments;
    std::string error;
    auto machine = platform::OpenMachine(request, &error);
    if (!machine) {
        std::fprintf(stderr, "Tarvex: %s\n", error.c_str());
        return 2;
    }
    GuiDialogs dialogs(machine.get());
    platform::Platform bundle = machine->Interfaces();
    bundle.dialogs = &dialogs;
    platform::ScopedPlatform installed(bundle);

    // The run's one ATACommand is made before the application starts, and classifies the OS.
    InitGlobalAtaCommand();
    if (StartupFatalRequested()) {
        return kStartupFatalExitCode;
    }
    CVARNO_KorvaneApp app;
    app.SetRunSettings(GuiRunSettings::FromEnvironment());
    app.SetStartTime(startSteadyMs);
    (void)app.InitInstance();
    return StartupFatalRequested() ? kStartupFatalExitCode : 0;
}

}  // namespace tarvex::ui
