#include "ui/korvane_dlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include "app/build_info.h"
#include "app/messages.h"
#include "app/os_version_info.h"
#include "app/progress_message.h"
#include "app/trace.h"
#include "app/ui_language.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "drives/device_tree_refresh.h"
#include "maintenance/trim_state.h"
#include "platform/platform.h"
#include "sysinfo/underlying_util.h"
#include "ui/app_icon.h"
#include "ui/controls/skin.h"
#include "ui/controls/skin_font.h"
#include "ui/pages/ata_cmd_summary_page.h"
#include "ui/pages/diagnostics_page.h"
#include "ui/pages/drive_info_page.h"
#include "ui/pages/page_texts.h"
#include "ui/pages/sys_info_page.h"
#include "ui/pages/sys_optimization_page.h"
#include "ui/pages/utility_page.h"

namespace tarvex::ui {
namespace {

constexpr int kStringNoDrive = 360;
constexpr int kStringSystemOptimizationXp = 330;
constexpr int kPageCaptionIds[6] = {242, 243, 244, 245, 246, 333};

// The six page captions, loaded when the window is made.
QString pageCaptions[6];

struct ButtonSkin {
    int normal, pressed, hover, disabled;
};
constexpr ButtonSkin kPageButtonSkins[6] = {
    {137, 138, 0, 0}, {139, 140, 0, 0}, {141, 142, 0, 0}, {143, 144, 0, 0}, {145, 146, 0, 0}, {145, 146, 0, 0}};

const char* const kPageTooltips[6] = {"Show the drive information", "Diagnostics tools", "SSD utilities",
                                      "System optimization tools", "Show the system information", nullptr};

bool IsWindowsXp() {
    const auto& osvi = GlobalAtaCommand().osVersion.osvi;
    return osvi.dwMajorVersion == 5 && osvi.dwMinorVersion == 1;
}

bool IsSwallowedKey(int key) {
    // Virtual keys 33..40: page up, page down, end, home and the four arrows.
    switch (key) {
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_End:
    case Qt::Key_Home:
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
        return true;
    default:
        return false;
    }
}

// Ctrl+Shift+A opens the ATA Command Summary page, whose button stays hidden.
bool IsAtaSummaryChord(const QKeyEvent& key) {
    constexpr Qt::KeyboardModifiers kChecked = Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier;
    return key.key() == Qt::Key_A && (key.modifiers() & kChecked) == (Qt::ControlModifier | Qt::ShiftModifier);
}

}  // namespace

CVARNO_KorvaneDlg::CVARNO_KorvaneDlg() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("102"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    // The controls of the window (drawn later by InitControlBitmaps).
    for (int i = 0; i < 6; ++i) {
        pageButtons_[static_cast<size_t>(i)] = new CBmpBtnCtrl(this, kPageButtonIds[i]);
    }
    for (int k = 0; k < 3; ++k) {
        tabButtons_[static_cast<size_t>(k)] = new CBmpBtnCtrl(this, kTabIds[k]);
    }
    previous_ = new CBmpBtnCtrl(this, kPreviousId);
    next_ = new CBmpBtnCtrl(this, kNextId);
    refresh_ = new CBmpBtnCtrl(this, kRefreshId);
    home_ = new CBmpBtnCtrl(this, kHomeId);
    title_ = new CLabel(this, kTitleId);
    close_ = new CBmpBtnCtrl(this, kCloseId);
    sheet_ = new CKorvanePropertySheet(this);
    // 1013 exists from the start but nothing shows it but the page's own key.
    pageButtons_[5]->hide();

    for (int i = 0; i < 6; ++i) {
        connect(pageButtons_[static_cast<size_t>(i)], &QAbstractButton::clicked, this, [this, i] { OnPageButton(i); });
    }
    for (int k = 0; k < 3; ++k) {
        connect(tabButtons_[static_cast<size_t>(k)], &QAbstractButton::clicked, this, [this, k] { OnTab(k); });
    }
    connect(previous_, &QAbstractButton::clicked, this, &CVARNO_KorvaneDlg::OnPrevious);
    connect(next_, &QAbstractButton::clicked, this, &CVARNO_KorvaneDlg::OnNext);
    connect(refresh_, &QAbstractButton::clicked, this, &CVARNO_KorvaneDlg::OnRefresh);
    connect(home_, &QAbstractButton::clicked, this, &CVARNO_KorvaneDlg::OnHome);
    connect(close_, &QAbstractButton::clicked, this, &CVARNO_KorvaneDlg::OnCloseButton);

    // The OS classification of the window itself, and the application icon (128).
    OsVersionInfo os;
    (void)os;
    icon_ = ApplicationIcon();
    // The string table answers in the user's UI language, so the language is settled before
    // the captions are loaded.
    InitUiLanguage();
    for (int i = 0; i < 6; ++i) {
        pageCaptions[i] = ResourceText(kPageCaptionIds[i]);
    }
    qApp->installEventFilter(this);
}

CVARNO_KorvaneDlg::~CVARNO_KorvaneDlg() {
    qApp->removeEventFilter(this);
    // The pages go with the window; a page that waits for its workers does so here.
    delete sheet_;
    sheet_ = nullptr;
}

bool CVARNO_KorvaneDlg::OnInitDialog(platform::Hwnd hwnd) {
    hwnd_ = hwnd;
    // 1. Icons.
    setWindowIcon(icon_);
    // 2. The runtime's conversions follow the user's locale of the PC.
    if (auto* system = platform::Current().system) {
        (void)system->SetLocale(platform::kLcAll, u"");
    }
    // 3. The title label's font.
    title_->SetFontName(SkinFontFace());
    title_->SetFontSize(11);
    title_->SetFontBold(true);
    title_->SetTextColor(QColor(255, 255, 255));
    // 4. The program's named mutex; it lives as long as the process.
    if (auto* kernel = platform::Current().kernelObjects) {
        (void)kernel->CreateMutex(kMainWindowTitle);
    }
    // 5..7. The trace, the build banner and the build number.
    SetTraceLevel(1);
    InitBuildBanner();
    ComputeBuildNumber();
    // 8. System information.
    {
        UnderlyingUtil util;
        if (util.GetSystemInfo() == 0) {
            EndDialog(0);
            return false;
        }
    }
    // 9. Drive scan.
    if (!UpdateDrivesInfo()) {
        return false;
    }
    Trace("Enter %s()", "CVARNO_KorvaneDlg::OnInitDialog");
    // 11. A TRIM interrupted by an earlier run leaves folders behind: clean them up.
    RecoverInterruptedTrim();
    // 12. The caption.
    setWindowTitle(QString::fromUtf16(kMainWindowTitle));
    if (auto* windows = platform::Current().windows; windows != nullptr && hwnd_ != platform::kNullHwnd) {
        (void)windows->SetWindowText(hwnd_, kMainWindowTitle);
    }
    // 13. The window itself.
    InitControlBitmaps();
    SetWindowRegionAndPosition();
    InitPropertyPages();
    SetControlPosition();
    InitControlInfo();
    Trace("Exit %s()", "CVARNO_KorvaneDlg::OnInitDialog");
    return true;
}

int CVARNO_KorvaneDlg::RunModalLoop() {
    if (ended_) {
        return result_;
    }
    show();
    QEventLoop loop;
    loop_ = &loop;
    loop.exec();
    hide();
    return result_;
}

void CVARNO_KorvaneDlg::EndDialog(int result) {
    result_ = result;
    ended_ = true;
    if (loop_ != nullptr) {
        loop_->quit();
    }
    emit DialogEnded(result);
}

bool CVARNO_KorvaneDlg::UpdateDrivesInfo() {
    // A reader still sending vendor commands would interleave them with the scan's, on a
    // drive table that is about to change.
    StopBackgroundReader();
    PhysicalDriveTable().clear();
    DriveCount = GlobalAtaCommand().UpdatePhysicalDrivesInfo(PhysicalDriveTable());
    if (DriveCount == 0) {
        ShowResourceMessage(kStringNoDrive);
        // The window closes once the message box is answered.
        QTimer::singleShot(0, this, [this] { EndDialog(0); });
        ended_ = true;
        return false;
    }
    return true;
}

bool CVARNO_KorvaneDlg::BusyRefused() {
    if (BusyOperation.load() != 0) {
        ShowBusyRefusal();
        return true;
    }
    return false;
}

CKorvanePage* CVARNO_KorvaneDlg::Page(int index) const { return sheet_ == nullptr ? nullptr : sheet_->Page(index); }

CBmpBtnCtrl* CVARNO_KorvaneDlg::Button(int controlId) const {
    return findChild<CBmpBtnCtrl*>(QString::number(controlId), Qt::FindDirectChildrenOnly);
}

void CVARNO_KorvaneDlg::InitControlBitmaps() {
    Trace("Enter %s()", "CVARNO_KorvaneDlg::InitControlBitmaps");
    for (int i = 0; i < 6; ++i) {
        const ButtonSkin& skin = kPageButtonSkins[i];
        pageButtons_[static_cast<size_t>(i)]->LoadBitmaps(skin.normal, skin.pressed, skin.hover, skin.disabled);
    }
    for (CBmpBtnCtrl* tab : tabButtons_) {
        tab->LoadBitmaps(157, 158);
    }
    previous_->LoadBitmaps(147, 148, 0, 149);
    next_->LoadBitmaps(150, 151, 0, 152);
    refresh_->LoadBitmaps(153, 154);
    home_->LoadBitmaps(155, 156);
    close_->LoadBitmaps(236, 237);
    const QPixmap titleBackground = LoadSkinBitmap(161);
    title_->SetBackground(titleBackground);
    if (!titleBackground.isNull()) {
        title_->resize(titleBackground.size());
    }
    title_->SetAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Trace("Exit %s()", "CVARNO_KorvaneDlg::InitControlBitmaps");
}

void CVARNO_KorvaneDlg::SetWindowRegionAndPosition() {
    Trace("Enter %s()", "CVARNO_KorvaneDlg::SetWindowRegionAndPosition");
    const QImage image = LoadSkinImage(135);
    if (image.isNull()) {
        Trace("Error loading bitmap!");
        ShowMessage(u"Error loading bitmap");
    } else {
        background_ = QPixmap::fromImage(image);
        backgroundWidth_ = image.width();
        backgroundHeight_ = image.height();
        resize(backgroundWidth_, backgroundHeight_);
        setMask(RegionWithoutKeyColour(image));
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->geometry();
            move(area.x() + (area.width() - backgroundWidth_) / 2, area.y() + (area.height() - backgroundHeight_) / 2);
        }
    }
    Trace("Exit %s()", "CVARNO_KorvaneDlg::SetWindowRegionAndPosition");
}

void CVARNO_KorvaneDlg::InitPropertyPages() {
    Trace("Enter %s()", "CVARNO_KorvaneDlg::InitPropertyPages");
    const QSize pageSize = SkinBitmapSize(177).isValid() ? SkinBitmapSize(177) : QSize(620, 430);
    sheet_->resize(pageSize);
    // The pages in the sheet's order; each is initialised as it is added.
    sheet_->AddPage(new CDriveInfoPage(sheet_));
    sheet_->AddPage(new CDiagnoticsPage(sheet_));
    sheet_->AddPage(new CUtilityPage(sheet_));
    sheet_->AddPage(new CSysOptimizationPage(sheet_));
    sheet_->AddPage(new CSysInfoPage(sheet_));
    sheet_->AddPage(new CAtaCmdSummaryPage(sheet_));
    pageCount_ = sheet_->PageCount();
    Trace("Exit %s()", "CVARNO_KorvaneDlg::InitPropertyPages");
}

void CVARNO_KorvaneDlg::SetControlPosition() {
    Trace("Enter %s()", "CVARNO_KorvaneDlg::SetControlPosition");
    const int w = width();
    for (int i = 0; i < 6; ++i) {
        pageButtons_[static_cast<size_t>(i)]->move(20, 120 + 66 * i);
    }
    tabButtons_[0]->move(235, 152);
    tabButtons_[1]->move(368, 152);
    tabButtons_[2]->move(501, 152);
    previous_->move(w - 166, 161);
    next_->move(w - 128, 161);
    refresh_->move(w - 90, 158);
    home_->move(w - 52, 158);
    close_->move(w - 45, 11);
    title_->move(234, 120);
    sheet_->move(228, 200);
    Trace("Exit %s()", "CVARNO_KorvaneDlg::SetControlPosition");
}

void CVARNO_KorvaneDlg::InitControlInfo() {
    Trace("Enter %s()", "CVARNO_KorvaneDlg::InitControlInfo");
    const QFont tabFont = SkinFont(11);
    for (CBmpBtnCtrl* tab : tabButtons_) {
        tab->SetTextFont(tabFont);
        tab->SetTextColors(QColor(255, 255, 255), QColor(255, 255, 255), QColor(128, 128, 128));
    }
    const QFont pageFont = SkinFont(11, QFont::Bold);
    for (int i = 0; i < 6; ++i) {
        CBmpBtnCtrl* button = pageButtons_[static_cast<size_t>(i)];
        button->setText(pageCaptions[i]);
        button->SetTextFont(pageFont);
        button->SetTextColors(QColor(200, 205, 212), QColor(255, 255, 255), QColor(128, 128, 128));
        button->SetTextPlace(QRect(56, 0, button->width() - 62, button->height()), Qt::AlignLeft | Qt::AlignVCenter);
        if (kPageTooltips[i] != nullptr) {
            button->setToolTip(QString::fromLatin1(kPageTooltips[i]));
        }
    }
    previous_->setToolTip(QStringLiteral("Move to the previous disk"));
    next_->setToolTip(QStringLiteral("Move to the next disk"));
    refresh_->setToolTip(QStringLiteral("Refresh all drives information"));
    home_->setToolTip(QStringLiteral("Go back to home page"));
    // The Drive Info page, then Refresh, which scans again and selects the first tab.
    OnPageButton(kPageDriveInfo);
    OnRefresh();
    Trace("Exit %s()", "CVARNO_KorvaneDlg::InitControlInfo");
}

QString CVARNO_KorvaneDlg::TitleText(int page) const {
    QString caption = pageCaptions[page];
    if (page == kPageSystemOptimization && IsWindowsXp()) {
        caption = ResourceText(kStringSystemOptimizationXp);
    }
    return QStringLiteral("       ") + caption;
}

void CVARNO_KorvaneDlg::SetNavigationVisible(bool visible) {
    for (CBmpBtnCtrl* control : {tabButtons_[0], tabButtons_[1], tabButtons_[2], previous_, next_, refresh_, home_}) {
        control->setVisible(visible);
    }
}

void CVARNO_KorvaneDlg::ApplyTabVisibility() {
    for (int k = 0; k < 3; ++k) {
        tabButtons_[static_cast<size_t>(k)]->setVisible(tabs_.TabVisible(k));
    }
}

void CVARNO_KorvaneDlg::ActivatePage(int page, bool refresh) {
    const bool firstActivation = page == kPageDriveInfo && firstActivation_ != 0;
    if (page != currentPage_ || firstActivation) {
        if (firstActivation) {
            firstActivation_ = 0;
        }
        title_->SetText(TitleText(page));
        pageButtons_[static_cast<size_t>(currentPage_)]->SetPressedLook(false);
        currentPage_ = page;
        sheet_->SetActivePage(page);
        pageButtons_[static_cast<size_t>(page)]->SetPressedLook(true);
        if (CKorvanePage* shown = Page(page)) {
            shown->resize(sheet_->size());
        }
    } else {
        pageButtons_[static_cast<size_t>(page)]->SetPressedLook(true);
    }
    if (refresh) {
        RefreshPage(page);
    }
}

void CVARNO_KorvaneDlg::OnPageButton(int page) {
    if (BusyRefused()) {
        return;
    }
    if (page == kPageSystemInfo || page == kPageAtaCommandSummary) {
        // System Info hides the drive controls, the statistics page shows them; neither has
        // anything to reload.
        SetNavigationVisible(page == kPageAtaCommandSummary);
        if (page == kPageAtaCommandSummary) {
            tabs_.ShowForPage(DriveCount);
            ApplyTabVisibility();
        }
        ActivatePage(page, false);
        return;
    }
    tabs_.ShowForPage(DriveCount);
    ApplyTabVisibility();
    previous_->show();
    next_->show();
    refresh_->show();
    home_->show();
    ActivatePage(page, true);
}

void CVARNO_KorvaneDlg::RefreshPage(int page) {
    if (page >= kPageDriveInfo && page <= kPageSystemOptimization) {
        if (CKorvanePage* target = Page(page)) {
            target->RefreshPage();
        }
    }
}

void CVARNO_KorvaneDlg::ReleaseTabs() {
    for (CBmpBtnCtrl* tab : tabButtons_) {
        tab->SetPressedLook(false);
    }
}

void CVARNO_KorvaneDlg::WriteTabCaptions() {
    const auto& table = PhysicalDriveTable();
    for (int k = 0; k < 3; ++k) {
        const int index = tabs_.FirstVisible() + k;
        // A tab beyond the drive count keeps its old caption (and is hidden).
        if (index < DriveCount && index < static_cast<int>(table.size())) {
            tabButtons_[static_cast<size_t>(k)]->setText(ToQString(DriveTabCaption(table[static_cast<size_t>(index)])));
        }
    }
}

void CVARNO_KorvaneDlg::OnTab(int k) {
    if (BusyRefused()) {
        return;
    }
    if (!tabs_.TabSelectable(k, DriveCount)) {
        return;
    }
    for (int j = 0; j < 3; ++j) {
        tabButtons_[static_cast<size_t>(j)]->SetPressedLook(j == k);
    }
    SelectedDrive = tabs_.DriveOfTab(k);
    SelectedPartition = 0;
    RefreshPage(currentPage_);
}

void CVARNO_KorvaneDlg::OnPrevious() {
    if (BusyRefused()) {
        return;
    }
    if (!tabs_.Previous(DriveCount)) {
        return;
    }
    ReleaseTabs();
    previous_->setEnabled(tabs_.PreviousEnabled());
    next_->setEnabled(tabs_.NextEnabled());
    WriteTabCaptions();
    OnTab(0);
}

void CVARNO_KorvaneDlg::OnNext() {
    if (BusyRefused()) {
        return;
    }
    if (!tabs_.Next(DriveCount)) {
        return;
    }
    ReleaseTabs();
    previous_->setEnabled(tabs_.PreviousEnabled());
    next_->setEnabled(tabs_.NextEnabled());
    WriteTabCaptions();
    OnTab(2);
}

void CVARNO_KorvaneDlg::OnRefresh() {
    if (BusyRefused()) {
        return;
    }
    refresh_->setEnabled(false);
    bool rescan = true;
    if (IsWindowsXp() && !ReenumerateDeviceTree()) {
        ShowMessage(u"Refreshing device manager fail");
        rescan = false;
    }
    if (rescan) {
        UnderlyingUtil util;
        (void)util.GetHbaInfo();
        if (UpdateDrivesInfo()) {
            tabButtons_[1]->SetPressedLook(false);
            tabButtons_[2]->SetPressedLook(false);
            SelectedDrive = 0;
            SelectedPartition = 0;
            tabs_.Reset(DriveCount);
            WriteTabCaptions();
            previous_->setEnabled(tabs_.PreviousEnabled());
            next_->setEnabled(tabs_.NextEnabled());
            ApplyTabVisibility();
            OnTab(0);
        }
    }
    refresh_->setEnabled(true);
}

void CVARNO_KorvaneDlg::OnHome() {
    if (BusyRefused()) {
        return;
    }
    OnPageButton(kPageDriveInfo);
    OnTab(0);
}

void CVARNO_KorvaneDlg::OnCloseButton() {
    if (BusyRefused()) {
        return;
    }
    EndDialog(2);  // IDCANCEL
}

int CVARNO_KorvaneDlg::OnKorvaneProgress(const platform::WindowMessage& message) {
    CKorvanePage* current = Page(currentPage_);
    int kind = 0;
    int result = 0;
    if (current != nullptr && PageDefinesThreadData(currentPage_)) {
        kind = current->OperationKindOf(message.lParam);
        if (ProgressCode(message.wParam) == KORVANEMSG_WPARAM_PROGRESSEND) {
            result = current->ResultOf(message.lParam);
        }
    }
    if (const auto forward = RouteProgress(currentPage_, kind, message.wParam, result)) {
        if (CKorvanePage* target = Page(forward->page)) {
            target->OnProgress(forward->code, message.lParam, forward->value);
        }
    }
    return 1;
}

void CVARNO_KorvaneDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!background_.isNull()) {
        painter.drawPixmap(0, 0, background_);
    } else {
        painter.fillRect(rect(), QColor(0x1B, 0x1E, 0x24));
    }
    if (!firstFramePainted_) {
        firstFramePainted_ = true;
        QTimer::singleShot(0, this, [this] { emit FirstFramePainted(); });
    }
}

void CVARNO_KorvaneDlg::mousePressEvent(QMouseEvent* event) {
    // A press on the background moves the window, as a press on a caption would.
    if (event->button() == Qt::LeftButton) {
        dragging_ = true;
        dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void CVARNO_KorvaneDlg::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - dragOffset_);
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void CVARNO_KorvaneDlg::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

void CVARNO_KorvaneDlg::closeEvent(QCloseEvent* event) {
    // Closing from outside (the window manager) is the close button.
    if (!ended_) {
        event->ignore();
        OnCloseButton();
        return;
    }
    event->accept();
}

bool CVARNO_KorvaneDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool ours = widget != nullptr && (widget == this || isAncestorOf(widget));
        if (ours && IsAtaSummaryChord(*key)) {
            // The chord is a click on the hidden page button 1013, busy guard included; a
            // held chord acts once.
            if (!key->isAutoRepeat()) {
                OnPageButton(kPageAtaCommandSummary);
            }
            return true;
        }
        if (ours && IsSwallowedKey(key->key())) {
            // A drive tab with the focus takes its hover look; the key itself goes nowhere.
            for (CBmpBtnCtrl* tab : tabButtons_) {
                if (tab->hasFocus()) {
                    tab->SetHoverLook(true);
                }
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tarvex::ui
