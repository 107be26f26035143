#include "ui/pages/popup_dialog.h"

namespace tarvex::ui {

CPopupDialog::CPopupDialog(int mode, int driveIndex, QWidget* parent)
    : QDialog(parent), mode_(mode), driveIndex_(driveIndex) {}

int CPopupDialog::DoModal() { return exec(); }

}  // namespace tarvex::ui
