#include "ui/pages/diagnostics_page.h"

#include "health/self_test.h"
#include "ui/pages/page_texts.h"

namespace tarvex::ui {

CDiagnoticsPage::CDiagnoticsPage(QWidget* parent) : CKorvanePage(130, 180, ResourceText(243), parent) {}

void CDiagnoticsPage::OnInitDialog() { logic_.Initialize(); }

void CDiagnoticsPage::RefreshPage() { logic_.LoadAlertSettings(); }

int CDiagnoticsPage::OperationKindOf(intptr_t threadData) const {
    const auto* data = reinterpret_cast<const SelfTestThreadData*>(threadData);
    return data == nullptr ? 0 : data->operationKind;
}

int CDiagnoticsPage::ResultOf(intptr_t threadData) const {
    const auto* data = reinterpret_cast<const SelfTestThreadData*>(threadData);
    return data == nullptr ? 0 : LoadThreadResult(*data);
}

void CDiagnoticsPage::OnProgress(int code, intptr_t threadData, int value) {
    logic_.OnProgress(code, reinterpret_cast<const SelfTestThreadData*>(threadData), value);
}

}  // namespace tarvex::ui
