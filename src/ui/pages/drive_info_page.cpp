#include "ui/pages/drive_info_page.h"

#include "ui/pages/page_texts.h"

namespace tarvex::ui {

CDriveInfoPage::CDriveInfoPage(QWidget* parent) : CKorvanePage(129, 177, ResourceText(242), parent) {}

}  // namespace tarvex::ui
