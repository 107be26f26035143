#pragma once
// CUtilityPage: the Security Erase section for the selected drive (its model and what the
// erase does) and the row of maintenance buttons: Security Erase, Firmware Update, the tool
// upgrade, Export Log and, when the program was started with "-a", Decrypt Log.
#include "ui/controls/bmp_btn_ctrl.h"
#include "ui/controls/label.h"
#include "ui/pages/korvane_page.h"

namespace tarvex::ui {

class CUtilityPage : public CKorvanePage {
    Q_OBJECT
public:
    static constexpr int kTitleId = 1061;
    static constexpr int kModelId = 1052;
    static constexpr int kDescriptionId = 1053;
    static constexpr int kRunId = 1041;
    static constexpr int kFirmwareUpdateId = 1058;
    static constexpr int kUpgradeId = 1059;
    static constexpr int kExportLogId = 1060;
    static constexpr int kDecryptLogId = 1062;

    explicit CUtilityPage(QWidget* parent = nullptr);

    // Writes the model number of the selected drive into label 1052.
    void RefreshModel();
    void RefreshPage() override;

    [[nodiscard]] CLabel* ModelLabel() const { return model_; }
    [[nodiscard]] CBmpBtnCtrl* Button(int controlId) const;

protected:
    void OnInitDialog() override;
    void Layout() override;

private:
    void OnExportLog();
    void OnDecryptLog();

    CLabel* title_ = nullptr;
    CLabel* model_ = nullptr;
    CLabel* description_ = nullptr;
    CBmpBtnCtrl* run_ = nullptr;
    CBmpBtnCtrl* firmwareUpdate_ = nullptr;
    CBmpBtnCtrl* upgrade_ = nullptr;
    CBmpBtnCtrl* exportLog_ = nullptr;
    CBmpBtnCtrl* decryptLog_ = nullptr;
};

}  // namespace tarvex::ui
