#pragma once
// The Diagnostics page: the two SMART self-tests and the alert settings of the selected
// drive, run by the page's logic. The main window reads the operation kind of kinds 1..3 from
// the page's self-test record and forwards their progress here. Its controls come with the
// page's own work; for now it shows its background.
#include "health/diagnostics_page.h"
#include "ui/pages/korvane_page.h"

namespace tarvex::ui {

class CDiagnoticsPage : public CKorvanePage {
    Q_OBJECT
public:
    explicit CDiagnoticsPage(QWidget* parent = nullptr);

    void RefreshPage() override;
    [[nodiscard]] int OperationKindOf(intptr_t threadData) const override;
    [[nodiscard]] int ResultOf(intptr_t threadData) const override;
    void OnProgress(int code, intptr_t threadData, int value) override;

    DiagnosticsPageLogic& Logic() { return logic_; }

protected:
    void OnInitDialog() override;

private:
    DiagnosticsPageLogic logic_;
};

}  // namespace tarvex::ui
