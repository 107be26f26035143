#pragma once
// CVARNO_KorvaneDlg: the program's only top-level window. A caption-less window shaped by its
// background, with a column of page buttons, three drive tabs with scroll arrows, Refresh,
// Home and close, the title label and the property sheet with the six pages. It owns the drive
// selection, refuses every action while a background operation runs, and passes the
// workers' progress messages on to the page that started the work.
#include <QEventLoop>
#include <QIcon>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <array>

#include "app/drive_tabs.h"
#include "platform/windowing.h"
#include "ui/controls/bmp_btn_ctrl.h"
#include "ui/controls/label.h"
#include "ui/korvane_property_sheet.h"

namespace tarvex::ui {

class CVARNO_KorvaneDlg : public QWidget {
    Q_OBJECT
public:
    // Control ids.
    static constexpr int kPageButtonIds[6] = {1000, 1001, 1002, 1003, 1004, 1013};
    static constexpr int kTabIds[3] = {1005, 1006, 1007};
    static constexpr int kPreviousId = 1008;
    static constexpr int kNextId = 1009;
    static constexpr int kRefreshId = 1010;
    static constexpr int kHomeId = 1011;
    static constexpr int kTitleId = 1012;
    static constexpr int kCloseId = 2;
    static constexpr int kSheetId = 600;

    // Construction as start-up runs it: state, controls, the OS classification, the icon, the
    // page captions and the UI language.
    CVARNO_KorvaneDlg();
    ~CVARNO_KorvaneDlg() override;

    // Start-up of the window in its fixed order; false when it failed (the window then closes
    // and the process ends). `hwnd` is the window claimed under the main window's title.
    bool OnInitDialog(platform::Hwnd hwnd);
    // Shows the window and runs its modal loop until it ends; returns the end result.
    int RunModalLoop();
    void EndDialog(int result);
    [[nodiscard]] bool Ended() const { return ended_; }

    // The drive scan of start-up and Refresh: false (string 360 shown, the window closing)
    // when no drive was found.
    bool UpdateDrivesInfo();

    // Handlers, as the buttons call them.
    void OnPageButton(int page);
    void OnTab(int k);
    void OnPrevious();
    void OnNext();
    void OnRefresh();
    void OnHome();
    void OnCloseButton();
    // A posted KORVANEMSG_PROGRESS (on the GUI thread); returns 1.
    int OnKorvaneProgress(const platform::WindowMessage& message);

    // Set-up steps.
    void InitControlBitmaps();
    void SetWindowRegionAndPosition();
    void InitPropertyPages();
    void SetControlPosition();
    void InitControlInfo();

    [[nodiscard]] int CurrentPage() const { return currentPage_; }
    [[nodiscard]] int PageCount() const { return pageCount_; }
    [[nodiscard]] const DriveTabs& Tabs() const { return tabs_; }
    [[nodiscard]] CKorvanePropertySheet* Sheet() const { return sheet_; }
    [[nodiscard]] CKorvanePage* Page(int index) const;
    [[nodiscard]] CBmpBtnCtrl* Button(int controlId) const;
    [[nodiscard]] CLabel* TitleLabel() const { return title_; }
    [[nodiscard]] platform::Hwnd Hwnd() const { return hwnd_; }

signals:
    // The first frame of the window has been painted.
    void FirstFramePainted();
    void DialogEnded(int result);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // True (and string 247 shown) while a background operation runs.
    bool BusyRefused();
    void ActivatePage(int page, bool refresh);
    void RefreshPage(int page);
    void WriteTabCaptions();
    void ApplyTabVisibility();
    void ReleaseTabs();
    void SetNavigationVisible(bool visible);
    QString TitleText(int page) const;

    int currentPage_ = 0;
    int pageCount_ = 0;
    int firstActivation_ = 1;
    DriveTabs tabs_;
    platform::Hwnd hwnd_ = platform::kNullHwnd;

    QIcon icon_;
    QPixmap background_;
    int backgroundWidth_ = 0;
    int backgroundHeight_ = 0;

    std::array<CBmpBtnCtrl*, 6> pageButtons_{};
    std::array<CBmpBtnCtrl*, 3> tabButtons_{};
    CBmpBtnCtrl* previous_ = nullptr;
    CBmpBtnCtrl* next_ = nullptr;
    CBmpBtnCtrl* refresh_ = nullptr;
    CBmpBtnCtrl* home_ = nullptr;
    CBmpBtnCtrl* close_ = nullptr;
    CLabel* title_ = nullptr;
    CKorvanePropertySheet* sheet_ = nullptr;

    QPointer<QEventLoop> loop_;
    int result_ = 0;
    bool ended_ = false;
    bool firstFramePainted_ = false;
    bool dragging_ = false;
    QPoint dragOffset_;
};

}  // namespace tarvex::ui
