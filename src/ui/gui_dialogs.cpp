#include "ui/gui_dialogs.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTextStream>
#include <QThread>

#include "app/messages.h"
#include "platform/win32_values.h"

namespace tarvex::ui {
namespace {

constexpr int IDABORT = 3;
constexpr int IDIGNORE = 5;
constexpr uint32_t MB_ABORTRETRYIGNORE = 0x02;

QString FromUtf16(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::optional<int> ParseAnswer(const QString& word) {
    const QString w = word.trimmed().toLower();
    if (w == QLatin1String("ok")) return win::IDOK;
    if (w == QLatin1String("cancel")) return win::IDCANCEL;
    if (w == QLatin1String("yes")) return win::IDYES;
    if (w == QLatin1String("no")) return win::IDNO;
    if (w == QLatin1String("retry")) return win::IDRETRY;
    bool ok = false;
    const int value = w.toInt(&ok);
    if (ok) return value;
    return std::nullopt;
}

// Runs `work` on the GUI thread and waits for it when called from another thread.
template <typename Work>
void OnGuiThread(QObject* context, Work&& work) {
    if (QThread::currentThread() == context->thread()) {
        work();
    } else {
        QMetaObject::invokeMethod(context, std::forward<Work>(work), Qt::BlockingQueuedConnection);
    }
}

}  // namespace

int CautiousAnswer(uint32_t type) {
    switch (type & win::MB_TYPEMASK) {
    case win::MB_OKCANCEL:
    case win::MB_YESNOCANCEL:
    case win::MB_RETRYCANCEL:
        return win::IDCANCEL;
    case win::MB_YESNO:
        return win::IDNO;
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    default:
        return win::IDOK;
    }
}

QString QtFileFilter(std::u16string_view windowsFilter) {
    const QStringList parts = FromUtf16(windowsFilter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) {
            break;
        }
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

GuiDialogs::GuiDialogs(platform::MachineControl* machine) : machine_(machine) {
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (environment.contains(QStringLiteral("TARVEX_GUI_ANSWERS"))) {
        scripted_ = true;
        for (const QString& word :
             environment.value(QStringLiteral("TARVEX_GUI_ANSWERS")).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (const auto answer = ParseAnswer(word)) {
                answers_.push_back(*answer);
            }
        }
    }
    if (environment.contains(QStringLiteral("TARVEX_GUI_FILE_ANSWERS"))) {
        scripted_ = true;
        for (const QString& path : environment.value(QStringLiteral("TARVEX_GUI_FILE_ANSWERS")).split(QLatin1Char('|'))) {
            fileAnswers_.push_back(path);
        }
    }
    logPath_ = environment.value(QStringLiteral("TARVEX_GUI_MESSAGE_LOG"));
}

void GuiDialogs::Log(const QString& caption, const QString& text) {
    if (logPath_.isEmpty()) {
        return;
    }
    std::lock_guard lock(mutex_);
    QFile file(logPath_);
    if (file.open(QIODevice::Append | QIODevice::Text)) {
        QString line = caption + QLatin1Char('\t') + text;
        line.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
        QTextStream(&file) << line << '\n';
    }
}

int GuiDialogs::MessageBox(std::u16string_view text, std::u16string_view caption, uint32_t type) {
    const QString qText = FromUtf16(text);
    const QString qCaption = FromUtf16(caption.empty() ? std::u16string_view(kApplicationCaption) : caption);
    Log(qCaption, qText);
    if (scripted_) {
        std::lock_guard lock(mutex_);
        if (!answers_.empty()) {
            const int answer = answers_.front();
            answers_.pop_front();
            return answer;
        }
        return CautiousAnswer(type);
    }
    int answer = CautiousAnswer(type);
    OnGuiThread(this, [&] { answer = ShowMessageBox(qText, qCaption, type); });
    return answer;
}

int GuiDialogs::ShowMessageBox(const QString& text, const QString& caption, uint32_t type) {
    QMessageBox box(owner_.data());
    box.setWindowTitle(caption);
    box.setText(text);
    switch (type & win::MB_ICONMASK) {
    case win::MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case win::MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case win::MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case win::MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    struct Choice {
        QMessageBox::StandardButton button;
        int answer;
    };
    std::vector<Choice> choices;
    switch (type & win::MB_TYPEMASK) {
    case win::MB_OKCANCEL:
        choices = {{QMessageBox::Ok, win::IDOK}, {QMessageBox::Cancel, win::IDCANCEL}};
        break;
    case MB_ABORTRETRYIGNORE:
        choices = {{QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, win::IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
        break;
    case win::MB_YESNOCANCEL:
        choices = {{QMessageBox::Yes, win::IDYES}, {QMessageBox::No, win::IDNO}, {QMessageBox::Cancel, win::IDCANCEL}};
        break;
    case win::MB_YESNO:
        choices = {{QMessageBox::Yes, win::IDYES}, {QMessageBox::No, win::IDNO}};
        break;
    case win::MB_RETRYCANCEL:
        choices = {{QMessageBox::Retry, win::IDRETRY}, {QMessageBox::Cancel, win::IDCANCEL}};
        break;
    default:
        choices = {{QMessageBox::Ok, win::IDOK}};
        break;
    }
    QMessageBox::StandardButtons buttons;
    for (const Choice& c : choices) {
        buttons |= c.button;
    }
    box.setStandardButtons(buttons);
    const auto pressed = static_cast<QMessageBox::StandardButton>(box.exec());
    for (const Choice& c : choices) {
        if (c.button == pressed) {
            return c.answer;
        }
    }
    return CautiousAnswer(type);  // closed without a button
}

std::optional<std::u16string> GuiDialogs::ToMachinePath(const QString& hostPath) {
    if (machine_ == nullptr || hostPath.isEmpty()) {
        return std::nullopt;
    }
    const QFileInfo info(hostPath);
    const std::filesystem::path folder = info.absoluteDir().absolutePath().toStdString();
    const char16_t letter = machine_->MapHostFolder(folder);
    if (letter == 0) {
        return std::nullopt;
    }
    std::u16string path;
    path += letter;
    path += u":\\";
    path += info.fileName().toStdU16String();
    return path;
}

std::optional<std::u16string> GuiDialogs::GetOpenFileName(std::u16string_view title, std::u16string_view filter,
                                                          std::u16string_view initialDirectory) {
    Log(QStringLiteral("file dialog"), FromUtf16(title));
    if (scripted_) {
        QString answer;
        {
            std::lock_guard lock(mutex_);
            if (fileAnswers_.empty()) {
                return std::nullopt;
            }
            answer = fileAnswers_.front();
            fileAnswers_.pop_front();
        }
        if (answer.isEmpty() || answer == QLatin1String("cancel")) {
            return std::nullopt;
        }
        return ToMachinePath(answer);
    }
    QString folder;
    if (machine_ != nullptr && !initialDirectory.empty()) {
        if (const auto host = machine_->HostPath(initialDirectory)) {
            folder = QString::fromStdString(host->string());
        }
    }
    std::optional<std::u16string> chosen;
    const QString qTitle = FromUtf16(title);
    const QString qFilter = QtFileFilter(filter);
    OnGuiThread(this, [&] { chosen = ShowFileDialog(qTitle, qFilter, folder); });
    return chosen;
}

std::optional<std::u16string> GuiDialogs::ShowFileDialog(const QString& title, const QString& filter,
                                                         const QString& folder) {
    QFileDialog dialog(owner_.data(), title.isEmpty() ? QString::fromUtf16(kApplicationCaption) : title, folder, filter);
    // A file that does not exist yet may be named (the report is written to it).
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return ToMachinePath(dialog.selectedFiles().front());
}

}  // namespace tarvex::ui
