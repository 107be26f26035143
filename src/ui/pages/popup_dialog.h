#pragma once
// CPopupDialog: the modal window that lists every raw field of the selected drive. Mode 1
// (Drive Details) shows the IDENTIFY data or the NVMe Identify Controller data, mode 2 (SMART
// Details) the SMART attributes or the NVMe SMART / Health log, of a copy of the drive's record.
// A caption-less window shaped by its background bitmap, centred on the screen and dragged by
// a press anywhere on its background.
#include <QDialog>
#include <QPixmap>
#include <QPoint>
#include <vector>

#include "drives/physical_drive_info.h"
#include "health/detail_rows.h"

namespace tarvex::ui {

class CBmpBtnCtrl;
class CLabel;
class CListExCtrl;

class CPopupDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kListId = 1062;
    static constexpr int kHeaderId = 1063;
    static constexpr int kCloseId = 1;  // IDOK
    static constexpr int kBackgroundId = 207;

    // Makes the window and fills it from the drive table's entry `driveIndex` (an index that
    // is not in the table shows an empty record).
    CPopupDialog(int mode, int driveIndex, QWidget* parent = nullptr);

    // Shows the popup modally until it closes; returns its end result.
    int DoModal();

    [[nodiscard]] int Mode() const { return mode_; }
    [[nodiscard]] int DriveIndex() const { return driveIndex_; }

    [[nodiscard]] CListExCtrl* List() const { return list_; }
    [[nodiscard]] CLabel* HeaderLabel() const { return header_; }
    [[nodiscard]] CBmpBtnCtrl* CloseButton() const { return close_; }
    [[nodiscard]] const QPixmap& Background() const { return background_; }
    // The drive record the popup shows (copied when the list was filled).
    [[nodiscard]] const PhysicalDriveInfo& Record() const { return record_; }

    // The storage controllers of the system information as the header needs them.
    static std::vector<PopupController> StorageControllers();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Initialisation in its fixed order.
    void OnInitDialog();
    void InitBitmapsAndShape();
    void PlaceWindow();
    void InitHeaderText();
    void InitColumns();
    void InitRows();

    int mode_;
    int driveIndex_;
    PhysicalDriveInfo record_{};
    QPixmap background_;
    CLabel* header_ = nullptr;
    CListExCtrl* list_ = nullptr;
    CBmpBtnCtrl* close_ = nullptr;
    bool dragging_ = false;
    QPoint dragOffset_;
};

}  // namespace tarvex::ui
