#pragma once
// CDriveInfoPage: the home page. For the drive of the active tab it shows the identity texts,
// the partitions one at a time with their sizes and a usage gauge, the health icon, the
// remaining-life gauge, the total bytes written and the temperature, and it opens the Drive
// Details and SMART Details popups. What it shows is decided by the GUI-free figures and
// partition stepping of the health library; the page only puts those on its controls.
#include "drives/physical_drive_info.h"
#include "health/drive_info_partitions.h"
#include "ui/controls/bitmap_ctrl.h"
#include "ui/controls/bitmap_slider.h"
#include "ui/controls/bmp_btn_ctrl.h"
#include "ui/controls/label.h"
#include "ui/pages/korvane_page.h"

namespace tarvex::ui {

class CDriveInfoPage : public CKorvanePage {
    Q_OBJECT
public:
    // Control ids.
    static constexpr int kModelId = 1040;
    static constexpr int kFirmwareId = 1013;
    static constexpr int kSerialId = 1014;
    static constexpr int kWwnId = 1015;
    static constexpr int kLinkSpeedId = 1016;
    static constexpr int kPictureId = 1020;
    static constexpr int kDriveDetailsId = 1018;
    static constexpr int kSmartDetailsId = 1041;
    static constexpr int kPartitionTitleId = 1019;
    static constexpr int kPartitionNameId = 1021;
    static constexpr int kPartitionTotalId = 1022;
    static constexpr int kPartitionFreeId = 1023;
    static constexpr int kPartitionFreePercentId = 1026;
    static constexpr int kPreviousPartitionId = 1024;
    static constexpr int kNextPartitionId = 1025;
    static constexpr int kUsageGaugeId = 1027;
    static constexpr int kWrittenPlateId = 1028;
    static constexpr int kWrittenCaptionId = 1029;
    static constexpr int kWrittenIconId = 1030;
    static constexpr int kWrittenValueId = 1031;
    static constexpr int kTemperaturePlateId = 1032;
    static constexpr int kTemperatureCaptionId = 1033;
    static constexpr int kTemperatureIconId = 1034;
    static constexpr int kTemperatureValueId = 1035;
    static constexpr int kHealthTitleId = 1036;
    static constexpr int kLifeTitleId = 1037;
    static constexpr int kHealthIconId = 1038;
    static constexpr int kLifeGaugeId = 1039;

    explicit CDriveInfoPage(QWidget* parent = nullptr);

    // Reloads the selected drive's partition list, then fills every control again.
    void RefreshPage() override;

    // Fills every control from the selected drive's record; nothing without drives.
    void InitControlInfo();
    // Fills the partition labels and the usage gauge for SelectedPartition.
    void UpdatePartitionControlInfo();

    // The buttons.
    void OnPreviousPartition();
    void OnNextPartition();
    void OnDriveDetails();
    void OnSmartDetails();

    [[nodiscard]] int PartitionCount() const { return partitions_.Count(); }

protected:
    void OnInitDialog() override;
    void Layout() override;

private:
    // The selected drive's entry of the drive table; null when there is none.
    [[nodiscard]] static const PhysicalDriveInfo* SelectedRecord();
    void LoadPartitions();
    void LoadBitmaps();
    void ApplyPartitionButtons(const PartitionControls& controls);
    void OpenPopup(int mode);

    DriveInfoPartitions partitions_;
    // The life gauge's value after the model rules, once the controls were filled; -1 before.
    int shownLife_ = -1;

    CLabel* model_ = nullptr;
    CLabel* firmware_ = nullptr;
    CLabel* serial_ = nullptr;
    CLabel* wwn_ = nullptr;
    CLabel* linkSpeed_ = nullptr;
    CBitmapCtrl* picture_ = nullptr;
    CBmpBtnCtrl* driveDetails_ = nullptr;
    CBmpBtnCtrl* smartDetails_ = nullptr;
    CLabel* partitionTitle_ = nullptr;
    CLabel* partitionName_ = nullptr;
    CLabel* partitionTotal_ = nullptr;
    CLabel* partitionFree_ = nullptr;
    CLabel* partitionFreePercent_ = nullptr;
    CBmpBtnCtrl* previousPartition_ = nullptr;
    CBmpBtnCtrl* nextPartition_ = nullptr;
    CBitmapSlider* usageGauge_ = nullptr;
    CBitmapCtrl* writtenPlate_ = nullptr;
    CLabel* writtenCaption_ = nullptr;
    CBitmapCtrl* writtenIcon_ = nullptr;
    CLabel* writtenValue_ = nullptr;
    CBitmapCtrl* temperaturePlate_ = nullptr;
    CLabel* temperatureCaption_ = nullptr;
    CBitmapCtrl* temperatureIcon_ = nullptr;
    CLabel* temperatureValue_ = nullptr;
    CLabel* healthTitle_ = nullptr;
    CLabel* lifeTitle_ = nullptr;
    CBitmapCtrl* healthIcon_ = nullptr;
    CBitmapSlider* lifeGauge_ = nullptr;
};

}  // namespace tarvex::ui
