#include "ui/pages/sys_optimization_page.h"

#include "ui/pages/page_texts.h"

namespace tarvex::ui {

CSysOptimizationPage::CSysOptimizationPage(QWidget* parent) : CKorvanePage(132, 187, ResourceText(245), parent) {}

}  // namespace tarvex::ui
