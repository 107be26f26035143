#include "ui/pages/ata_cmd_summary_page.h"

#include "ui/pages/page_texts.h"

namespace tarvex::ui {

CAtaCmdSummaryPage::CAtaCmdSummaryPage(QWidget* parent) : CKorvanePage(184, 178, ResourceText(333), parent) {}

}  // namespace tarvex::ui
