#pragma once
// CPopupDialog: the modal window that lists every raw field of the selected drive. Mode 1
// (Drive Details) shows the IDENTIFY data or the NVMe Identify Controller data, mode 2 (SMART
// Details) the SMART attributes or the NVMe SMART / Health log, of a copy of the drive's record.
#include <QDialog>

namespace tarvex::ui {

class CPopupDialog : public QDialog {
    Q_OBJECT
public:
    CPopupDialog(int mode, int driveIndex, QWidget* parent = nullptr);

    // Shows the popup modally until it closes; returns its end result.
    int DoModal();

    [[nodiscard]] int Mode() const { return mode_; }
    [[nodiscard]] int DriveIndex() const { return driveIndex_; }

private:
    int mode_;
    int driveIndex_;
};

}  // namespace tarvex::ui
