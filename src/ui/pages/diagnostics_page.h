#pragma once
// The Diagnostics page: the two SMART self-tests of the selected drive with a progress bar
// each, and below them the two alert thresholds and the switch of the monitoring service. The
// page's logic does the work; every click and every forwarded progress message goes to it, and
// the widgets are then set again from its state. The main window reads the operation kind of
// kinds 1..3 from the page's self-test record and forwards their progress here.
#include <array>

#include "health/diagnostics_page.h"
#include "ui/controls/bitmap_slider.h"
#include "ui/controls/bmp_btn_ctrl.h"
#include "ui/controls/edit_trans.h"
#include "ui/controls/label.h"
#include "ui/pages/korvane_page.h"

namespace tarvex::ui {

class CDiagnoticsPage : public CKorvanePage {
    Q_OBJECT
public:
    // Control ids, per scan (quick, full) where there are two.
    static constexpr int kTitleIds[2] = {1064, 1065};
    static constexpr int kModelIds[2] = {1066, 1086};
    static constexpr int kDescriptionIds[2] = {1067, 1069};
    static constexpr int kRunIds[2] = {1041, 1073};
    static constexpr int kCancelIds[2] = {1072, 1074};
    static constexpr int kBarIds[2] = {1119, 1120};
    static constexpr int kAlertTitleId = 1075;
    static constexpr int kTemperatureCaptionId = 1076;
    static constexpr int kServiceCaptionId = 1077;
    static constexpr int kLifeCaptionId = 1078;
    static constexpr int kTemperatureEditId = 1112;
    static constexpr int kLifeEditId = 1114;
    static constexpr int kServiceBoxId = 1116;
    static constexpr int kTemperatureApplyId = 1131;
    static constexpr int kLifeApplyId = 1132;

    explicit CDiagnoticsPage(QWidget* parent = nullptr);

    void RefreshPage() override;
    [[nodiscard]] int OperationKindOf(intptr_t threadData) const override;
    [[nodiscard]] int ResultOf(intptr_t threadData) const override;
    void OnProgress(int code, intptr_t threadData, int value) override;

    DiagnosticsPageLogic& Logic() { return logic_; }

protected:
    void OnInitDialog() override;
    void Layout() override;

private:
    // Sets enabled, visible, position and texts of the controls from the logic. The edit
    // boxes take the logic's numbers only when `reloadEdits` (the thresholds were loaded), so
    // that a progress message does not throw away what the user is typing.
    void SyncFromLogic(bool reloadEdits);
    void PlaceBars();
    void OnRun(DiagnosticsPageLogic::Scan scan);
    void OnCancel(DiagnosticsPageLogic::Scan scan);
    void OnApplyTemperature();
    void OnApplyLife();
    void OnServiceBox(bool ticked);

    DiagnosticsPageLogic logic_;

    std::array<CLabel*, 2> titles_{};
    std::array<CLabel*, 2> models_{};
    std::array<CLabel*, 2> descriptions_{};
    std::array<CBmpBtnCtrl*, 2> runs_{};
    std::array<CBmpBtnCtrl*, 2> cancels_{};
    std::array<CBitmapSlider*, 2> bars_{};
    CLabel* alertTitle_ = nullptr;
    CLabel* temperatureCaption_ = nullptr;
    CLabel* serviceCaption_ = nullptr;
    CLabel* lifeCaption_ = nullptr;
    CEditTrans* temperatureEdit_ = nullptr;
    CEditTrans* lifeEdit_ = nullptr;
    CBmpBtnCtrl* serviceBox_ = nullptr;
    CBmpBtnCtrl* temperatureApply_ = nullptr;
    CBmpBtnCtrl* lifeApply_ = nullptr;
    int serviceBoxFace_ = 0;  // the bitmap the box shows now
};

}  // namespace tarvex::ui
