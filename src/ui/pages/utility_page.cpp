#include "ui/pages/utility_page.h"

#include "ui/pages/page_texts.h"

namespace tarvex::ui {

CUtilityPage::CUtilityPage(QWidget* parent) : CKorvanePage(131, 179, ResourceText(244), parent) {}

}  // namespace tarvex::ui
