#include "ui/pages/drive_info_page.h"

#include <algorithm>
#include <memory>

#include "app/drive_tabs.h"
#include "app/trace.h"
#include "app/ui_language.h"
#include "device/ata_command.h"
#include "device/identify_decoding.h"
#include "drives/drive_table.h"
#include "health/drive_info_figures.h"
#include "platform/text.h"
#include "ui/controls/skin_font.h"
#include "ui/pages/page_texts.h"
#include "ui/pages/popup_dialog.h"

namespace tarvex::ui {
namespace {

constexpr int kTemplateId = 129;
constexpr int kBackgroundId = 177;
constexpr int kCaptionStringId = 242;

constexpr int kStringModel = 248;
constexpr int kStringFirmware = 249;
constexpr int kStringSerial = 250;
constexpr int kStringWwn = 251;
constexpr int kStringLinkSpeed = 252;
constexpr int kStringPartitionTitle = 253;
constexpr int kStringHealthTitle = 254;
constexpr int kStringLifeTitle = 255;
constexpr int kStringWrittenCaption = 256;
constexpr int kStringTemperatureCaption = 257;
constexpr int kStringDriveDetails = 258;
constexpr int kStringSmartDetails = 259;

constexpr int kPopupDriveDetails = 1;
constexpr int kPopupSmartDetails = 2;

const QColor kGrey(128, 128, 128);
const QColor kWhite(255, 255, 255);
const QColor kWrittenColour(109, 189, 12);
const QColor kFreePercentColour(1, 168, 177);
// The temperature value in the colour of its band: cool, normal, hot (or unknown).
const QColor kTemperatureColours[3] = {QColor(86, 209, 255), QColor(158, 226, 116), QColor(255, 81, 110)};

// Where the labels sit (page pixels). The identity rows are 300 x 15; the others are as wide
// as the longest text of the six languages needs without reaching the next control. The
// partition name may wrap onto a second line: without a partition the size labels under it
// are hidden, and with one it is a short device id.
struct LabelPlace {
    int id;
    QRect place;
};
constexpr int kIdentityIds[5] = {CDriveInfoPage::kModelId, CDriveInfoPage::kFirmwareId, CDriveInfoPage::kSerialId,
                                 CDriveInfoPage::kWwnId, CDriveInfoPage::kLinkSpeedId};
const LabelPlace kLabelPlaces[] = {
    {CDriveInfoPage::kModelId, QRect(28, 0, 300, 15)},
    {CDriveInfoPage::kFirmwareId, QRect(28, 14, 300, 15)},
    {CDriveInfoPage::kSerialId, QRect(28, 28, 300, 15)},
    {CDriveInfoPage::kWwnId, QRect(28, 42, 300, 15)},
    {CDriveInfoPage::kLinkSpeedId, QRect(28, 56, 300, 15)},
    {CDriveInfoPage::kPartitionTitleId, QRect(28, 82, 240, 20)},
    {CDriveInfoPage::kPartitionNameId, QRect(28, 115, 166, 36)},
    {CDriveInfoPage::kPartitionTotalId, QRect(28, 134, 166, 17)},
    {CDriveInfoPage::kPartitionFreeId, QRect(28, 153, 166, 17)},
    {CDriveInfoPage::kPartitionFreePercentId, QRect(200, 146, 84, 15)},
    {CDriveInfoPage::kWrittenCaptionId, QRect(282, 125, 130, 18)},
    {CDriveInfoPage::kWrittenValueId, QRect(324, 166, 110, 20)},
    {CDriveInfoPage::kTemperatureCaptionId, QRect(426, 125, 134, 18)},
    {CDriveInfoPage::kTemperatureValueId, QRect(470, 166, 120, 20)},
    {CDriveInfoPage::kHealthTitleId, QRect(28, 252, 260, 20)},
    {CDriveInfoPage::kLifeTitleId, QRect(298, 252, 260, 20)},
};

QString Labelled(int stringId, const QString& value) { return ResourceText(stringId) + QStringLiteral(": ") + value; }

void Style(CLabel* label, QColor colour, int pointSize, bool bold) {
    label->SetTextColor(colour);
    label->SetFontName(SkinFontFace());
    label->SetFontSize(pointSize);
    label->SetFontBold(bold);
}

}  // namespace

CDriveInfoPage::CDriveInfoPage(QWidget* parent)
    : CKorvanePage(kTemplateId, kBackgroundId, ResourceText(kCaptionStringId), parent), partitions_(SelectedPartition) {
    // Pictures first: a sibling made later is drawn over one made earlier, and the captions
    // lie on their plates.
    picture_ = new CBitmapCtrl(this, kPictureId);
    writtenPlate_ = new CBitmapCtrl(this, kWrittenPlateId);
    writtenIcon_ = new CBitmapCtrl(this, kWrittenIconId);
    temperaturePlate_ = new CBitmapCtrl(this, kTemperaturePlateId);
    temperatureIcon_ = new CBitmapCtrl(this, kTemperatureIconId);
    healthIcon_ = new CBitmapCtrl(this, kHealthIconId);
    usageGauge_ = new CBitmapSlider(this, kUsageGaugeId);
    lifeGauge_ = new CBitmapSlider(this, kLifeGaugeId);

    model_ = new CLabel(this, kModelId);
    firmware_ = new CLabel(this, kFirmwareId);
    serial_ = new CLabel(this, kSerialId);
    wwn_ = new CLabel(this, kWwnId);
    linkSpeed_ = new CLabel(this, kLinkSpeedId);
    partitionTitle_ = new CLabel(this, kPartitionTitleId);
    partitionName_ = new CLabel(this, kPartitionNameId);
    partitionTotal_ = new CLabel(this, kPartitionTotalId);
    partitionFree_ = new CLabel(this, kPartitionFreeId);
    partitionFreePercent_ = new CLabel(this, kPartitionFreePercentId);
    writtenCaption_ = new CLabel(this, kWrittenCaptionId);
    writtenValue_ = new CLabel(this, kWrittenValueId);
    temperatureCaption_ = new CLabel(this, kTemperatureCaptionId);
    temperatureValue_ = new CLabel(this, kTemperatureValueId);
    healthTitle_ = new CLabel(this, kHealthTitleId);
    lifeTitle_ = new CLabel(this, kLifeTitleId);

    driveDetails_ = new CBmpBtnCtrl(this, kDriveDetailsId);
    smartDetails_ = new CBmpBtnCtrl(this, kSmartDetailsId);
    previousPartition_ = new CBmpBtnCtrl(this, kPreviousPartitionId);
    nextPartition_ = new CBmpBtnCtrl(this, kNextPartitionId);

    connect(previousPartition_, &QAbstractButton::clicked, this, &CDriveInfoPage::OnPreviousPartition);
    connect(nextPartition_, &QAbstractButton::clicked, this, &CDriveInfoPage::OnNextPartition);
    connect(driveDetails_, &QAbstractButton::clicked, this, &CDriveInfoPage::OnDriveDetails);
    connect(smartDetails_, &QAbstractButton::clicked, this, &CDriveInfoPage::OnSmartDetails);
}

const PhysicalDriveInfo* CDriveInfoPage::SelectedRecord() {
    const auto& table = PhysicalDriveTable();
    if (DriveCount <= 0 || SelectedDrive < 0 || SelectedDrive >= DriveCount ||
        SelectedDrive >= static_cast<int>(table.size())) {
        return nullptr;
    }
    return &table[static_cast<size_t>(SelectedDrive)];
}

void CDriveInfoPage::LoadPartitions() {
    if (const PhysicalDriveInfo* record = SelectedRecord()) {
        // The partition list is kept per physical drive number, not per table entry.
        partitions_.Load(record->driveIndex);
    } else {
        partitions_.SetList({});
    }
}

void CDriveInfoPage::LoadBitmaps() {
    // The page background itself is loaded (and reported when missing) by the base page.
    picture_->LoadBitmaps({159});
    driveDetails_->LoadBitmaps(169);
    smartDetails_->LoadBitmaps(169);
    previousPartition_->LoadBitmaps(170, 171, 0, 183);
    nextPartition_->LoadBitmaps(172, 173, 0, 184);
    usageGauge_->LoadBitmaps(174, 175);
    usageGauge_->SetRange(0, 100);
    writtenPlate_->LoadBitmaps({160});
    writtenIcon_->LoadBitmaps({162});
    temperaturePlate_->LoadBitmaps({160});
    temperatureIcon_->LoadBitmaps({163, 164, 165});
    // The health badge: good, attention, and a failed face the page does not choose.
    healthIcon_->LoadBitmaps({166, 167, 168});
    lifeGauge_->LoadBitmaps(174, 176);
    lifeGauge_->SetRange(0, 100);
}

void CDriveInfoPage::OnInitDialog() {
    Trace("Enter %s()", "CDriveInfoPage::OnInitDialog");
    LoadPartitions();
    LoadBitmaps();

    for (int id : kIdentityIds) {
        Style(findChild<CLabel*>(QString::number(id), Qt::FindDirectChildrenOnly), kGrey, 9, false);
    }
    for (CLabel* title : {partitionTitle_, healthTitle_, lifeTitle_}) {
        Style(title, kWhite, 11, true);
    }
    for (CLabel* label : {partitionName_, partitionTotal_, partitionFree_, writtenCaption_, temperatureCaption_}) {
        Style(label, kGrey, 9, true);
    }
    Style(partitionFreePercent_, kFreePercentColour, 8, true);
    Style(writtenValue_, kWrittenColour, 11, true);
    Style(temperatureValue_, kTemperatureColours[0], 11, true);
    writtenCaption_->SetText(ResourceText(kStringWrittenCaption));
    temperatureCaption_->SetText(ResourceText(kStringTemperatureCaption));

    // Russian and Korean button texts are longer: one point smaller.
    const int buttonPoints = (UiLanguageId == 1049 || UiLanguageId == 1042) ? 9 : 10;
    for (CBmpBtnCtrl* button : {driveDetails_, smartDetails_}) {
        button->SetTextFont(SkinFont(buttonPoints));
    }

    Layout();
    InitControlInfo();
    Trace("Exit %s()", "CDriveInfoPage::OnInitDialog");
}

void CDriveInfoPage::Layout() {
    for (const LabelPlace& p : kLabelPlaces) {
        if (auto* label = findChild<CLabel*>(QString::number(p.id), Qt::FindDirectChildrenOnly)) {
            label->setGeometry(p.place);
        }
    }
    picture_->move(272, 5);
    previousPartition_->move(198, 115);
    nextPartition_->move(230, 115);
    usageGauge_->move(32, 178);
    writtenPlate_->move(273, 122);
    writtenIcon_->move(285, 164);
    temperaturePlate_->move(418, 122);
    temperatureIcon_->move(440, 155);
    healthIcon_->move(34, 292);
    lifeGauge_->move(303, 292);
    driveDetails_->move(425, 26);
    smartDetails_->move(425, 358);

    const PhysicalDriveInfo* record = SelectedRecord();
    if (record == nullptr) {
        return;
    }
    usageGauge_->SetPos(partitions_.Controls().gauge);
    ATACommand ata;
    const int life = std::clamp<int>(ata.GetRemainingLife(*record), 0, 100);
    Trace("GUI disk remaining life: %d", life);
    // Once the controls are filled the gauge shows the life after the model rules; a later
    // resize must not put the raw SMART figure back.
    lifeGauge_->SetPos(shownLife_ >= 0 ? shownLife_ : life);
}

void CDriveInfoPage::RefreshPage() {
    LoadPartitions();
    InitControlInfo();
}

void CDriveInfoPage::InitControlInfo() {
    Trace("Enter %s()", "CDriveInfoPage::InitControlInfo");
    const PhysicalDriveInfo* selected = SelectedRecord();
    if (selected == nullptr) {
        Trace("Exit %s()", "CDriveInfoPage::InitControlInfo");
        return;
    }
    // A copy: a rescan may replace the table while the page is filled.
    const PhysicalDriveInfo record = *selected;

    model_->SetText(Labelled(kStringModel, ToQString(platform::FixedText(record.modelNumber))));
    firmware_->SetText(Labelled(kStringFirmware, ToQString(platform::FixedText(record.firmwareRevision))));
    serial_->SetText(Labelled(kStringSerial, ToQString(platform::FixedText(record.serialNumber))));
    wwn_->SetText(Labelled(kStringWwn, ToQString(WwnText(record.identify))));
    linkSpeed_->SetText(Labelled(kStringLinkSpeed, ToQString(LinkSpeedText(record))));

    partitionTitle_->SetText(ResourceText(kStringPartitionTitle));
    healthTitle_->SetText(ResourceText(kStringHealthTitle));
    lifeTitle_->SetText(ResourceText(kStringLifeTitle));

    UpdatePartitionControlInfo();

    const DriveInfoFigures figures = ComputeDriveInfoFigures(record);
    writtenValue_->SetText(ToQString(figures.totalWrittenText));
    temperatureValue_->SetText(ToQString(figures.temperatureText));
    const int band = std::clamp(figures.temperatureState, 0, 2);
    temperatureIcon_->SetState(band);
    temperatureValue_->SetTextColor(kTemperatureColours[band]);
    healthIcon_->SetState(figures.healthIconState);
    shownLife_ = figures.remainingLife;
    lifeGauge_->SetPos(shownLife_);

    driveDetails_->setText(ResourceText(kStringDriveDetails));
    smartDetails_->setText(ResourceText(kStringSmartDetails));

    ApplyPartitionButtons(partitions_.Controls());
    Trace("Exit %s()", "CDriveInfoPage::InitControlInfo");
}

void CDriveInfoPage::UpdatePartitionControlInfo() {
    Trace("Enter %s()", "CDriveInfoPage::UpdatePartitionControlInfo");
    const PartitionControls c = partitions_.Controls();
    partitionName_->SetText(ToQString(c.name));
    for (QWidget* sized : {static_cast<QWidget*>(partitionTotal_), static_cast<QWidget*>(partitionFree_),
                           static_cast<QWidget*>(partitionFreePercent_), static_cast<QWidget*>(usageGauge_)}) {
        sized->setVisible(c.sizesVisible);
    }
    if (c.sizesVisible) {
        partitionTotal_->SetText(ToQString(c.total));
        partitionFree_->SetText(ToQString(c.free));
        partitionFreePercent_->SetText(ToQString(c.freePercent));
        usageGauge_->SetPos(c.gauge);
    }
    Trace("Exit %s()", "CDriveInfoPage::UpdatePartitionControlInfo");
}

void CDriveInfoPage::ApplyPartitionButtons(const PartitionControls& controls) {
    previousPartition_->setEnabled(controls.previousEnabled);
    nextPartition_->setEnabled(controls.nextEnabled);
}

void CDriveInfoPage::OnPreviousPartition() {
    Trace("Enter %s()", "CDriveInfoPage::OnPreviousPartition");
    if (partitions_.Previous()) {
        UpdatePartitionControlInfo();
    }
    if (partitions_.Count() >= 2) {
        ApplyPartitionButtons(partitions_.Controls());
    }
    Trace("Exit %s()", "CDriveInfoPage::OnPreviousPartition");
}

void CDriveInfoPage::OnNextPartition() {
    Trace("Enter %s()", "CDriveInfoPage::OnNextPartition");
    if (partitions_.Next()) {
        UpdatePartitionControlInfo();
    }
    if (partitions_.Count() >= 2) {
        ApplyPartitionButtons(partitions_.Controls());
    }
    Trace("Exit %s()", "CDriveInfoPage::OnNextPartition");
}

void CDriveInfoPage::OpenPopup(int mode) {
    // One popup per click, gone when it closes.
    auto popup = std::make_unique<CPopupDialog>(mode, SelectedDrive, this);
    (void)popup->DoModal();
}

void CDriveInfoPage::OnDriveDetails() {
    Trace("Enter %s()", "CDriveInfoPage::OnDriveDetails");
    OpenPopup(kPopupDriveDetails);
    Trace("Exit %s()", "CDriveInfoPage::OnDriveDetails");
}

void CDriveInfoPage::OnSmartDetails() {
    Trace("Enter %s()", "CDriveInfoPage::OnSmartDetails");
    OpenPopup(kPopupSmartDetails);
    Trace("Exit %s()", "CDriveInfoPage::OnSmartDetails");
}

}  // namespace tarvex::ui
