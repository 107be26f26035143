#pragma once
// The platform's dialogs inside the window: message boxes and the file dialog are Qt dialogs
// with the application's caption, shown on the GUI thread. A worker thread that asks waits
// for the answer while the GUI thread shows the box.
//
// Scripted runs (tests, scripts/run) set TARVEX_GUI_ANSWERS: no box is shown, each is answered
// from that comma list (ok, cancel, yes, no, retry or a number), then with its cautious answer
// (No, Cancel where there is one, else OK). TARVEX_GUI_FILE_ANSWERS answers file dialogs (paths
// of this computer separated by '|'; "cancel" cancels). TARVEX_GUI_MESSAGE_LOG names a file of
// this computer to which every box's caption and text are appended, one line each.
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dialogs.h"
#include "platform/machine_control.h"

namespace tarvex::ui {

class GuiDialogs : public QObject, public platform::Dialogs {
    Q_OBJECT
public:
    // `machine` maps the folders of this computer that a file dialog picks onto drive
    // letters of the PC; may be null (then a file dialog is cancelled).
    explicit GuiDialogs(platform::MachineControl* machine);

    int MessageBox(std::u16string_view text, std::u16string_view caption, uint32_t type) override;
    std::optional<std::u16string> GetOpenFileName(std::u16string_view title, std::u16string_view filter,
                                                  std::u16string_view initialDirectory) override;

    // The window the boxes belong to.
    void SetOwner(QWidget* owner) { owner_ = owner; }
    [[nodiscard]] bool Scripted() const { return scripted_; }

private:
    int ShowMessageBox(const QString& text, const QString& caption, uint32_t type);
    std::optional<std::u16string> ShowFileDialog(const QString& title, const QString& filter, const QString& folder);
    std::optional<std::u16string> ToMachinePath(const QString& hostPath);
    void Log(const QString& caption, const QString& text);

    platform::MachineControl* machine_;
    QPointer<QWidget> owner_;
    bool scripted_ = false;
    std::mutex mutex_;
    std::deque<int> answers_;
    std::deque<QString> fileAnswers_;
    QString logPath_;
};

// The answer a box gets when nobody can be asked: No, Cancel where there is one, else OK.
int CautiousAnswer(uint32_t type);
// "Name(*.ext)|*.ext|All(*.*)|*.*||" as a Qt name filter list ("Name(*.ext) (*.ext);;...").
QString QtFileFilter(std::u16string_view windowsFilter);

}  // namespace tarvex::ui
