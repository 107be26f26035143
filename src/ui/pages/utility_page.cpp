#include "ui/pages/utility_page.h"

#include <algorithm>
#include <iterator>

#include "app/ui_language.h"
#include "drives/drive_table.h"
#include "sysinfo/log_flows.h"
#include "ui/controls/skin.h"
#include "ui/controls/skin_font.h"
#include "ui/pages/page_texts.h"

namespace tarvex::ui {

namespace {

constexpr int kStringTitle = 294;
constexpr int kStringDescription = 298;
constexpr int kStringRun = 266;
constexpr int kStringFirmwareUpdate = 295;
constexpr int kStringUpgrade = 296;
constexpr int kStringExportLog = 297;
constexpr int kStringDecryptLog = 319;
constexpr int kRussian = 1049;

QString ModelOfSelectedDrive() {
    const auto& table = PhysicalDriveTable();
    if (SelectedDrive < 0 || SelectedDrive >= DriveCount || static_cast<size_t>(SelectedDrive) >= table.size()) {
        return {};
    }
    const auto& model = table[static_cast<size_t>(SelectedDrive)].modelNumber;
    // The field is a fixed array: the text ends at its first NUL or at the array's end.
    const char16_t* end = std::find(std::begin(model), std::end(model), u'\0');
    return ToQString(std::u16string_view(model, static_cast<size_t>(end - model)));
}

}  // namespace

CUtilityPage::CUtilityPage(QWidget* parent) : CKorvanePage(131, 179, ResourceText(244), parent) {
    title_ = new CLabel(this, kTitleId);
    model_ = new CLabel(this, kModelId);
    description_ = new CLabel(this, kDescriptionId);
    run_ = new CBmpBtnCtrl(this, kRunId);
    firmwareUpdate_ = new CBmpBtnCtrl(this, kFirmwareUpdateId);
    upgrade_ = new CBmpBtnCtrl(this, kUpgradeId);
    exportLog_ = new CBmpBtnCtrl(this, kExportLogId);
    decryptLog_ = new CBmpBtnCtrl(this, kDecryptLogId);
    connect(exportLog_, &QAbstractButton::clicked, this, &CUtilityPage::OnExportLog);
    connect(decryptLog_, &QAbstractButton::clicked, this, &CUtilityPage::OnDecryptLog);
}

CBmpBtnCtrl* CUtilityPage::Button(int controlId) const {
    return findChild<CBmpBtnCtrl*>(QString::number(controlId), Qt::FindDirectChildrenOnly);
}

void CUtilityPage::Layout() {
    title_->setGeometry(28, 8, 200, 20);
    model_->setGeometry(35, 54, 310, 20);
    description_->setGeometry(35, 95, 460, 120);
    run_->move(35, 225);
    firmwareUpdate_->move(10, 304);
    upgrade_->move(195, 304);
    exportLog_->move(380, 304);
    decryptLog_->move(380, 364);
}

void CUtilityPage::OnInitDialog() {
    run_->LoadBitmaps(231, 202, 0, 203);
    for (CBmpBtnCtrl* button : {firmwareUpdate_, upgrade_, exportLog_, decryptLog_}) {
        button->LoadBitmaps(182);
    }
    Layout();

    const QString face = SkinFontFace();
    title_->SetText(ResourceText(kStringTitle));
    title_->SetTextColor(QColor::fromRgb(kTitleColour));
    title_->SetFontName(face);
    title_->SetFontSize(11);
    description_->SetText(ResourceText(kStringDescription));
    description_->SetTextColor(QColor::fromRgb(kCaptionColour));
    description_->SetFontName(face);
    description_->SetFontSize(9);

    const QFont buttonFont = SkinFont(UiLanguageId == kRussian ? 9 : 11);
    const std::pair<CBmpBtnCtrl*, int> captions[] = {{run_, kStringRun},
                                                     {firmwareUpdate_, kStringFirmwareUpdate},
                                                     {upgrade_, kStringUpgrade},
                                                     {exportLog_, kStringExportLog},
                                                     {decryptLog_, kStringDecryptLog}};
    for (const auto& [button, stringId] : captions) {
        button->setText(ResourceText(stringId));
        button->SetTextFont(buttonFont);
    }
    // Security Erase, Firmware Update and the tool upgrade are switched on by their own flows;
    // until a flow is bound to a button it stays disabled.
    run_->setEnabled(false);
    firmwareUpdate_->setEnabled(false);
    upgrade_->setEnabled(false);
    decryptLog_->setVisible(DecryptLogOffered());
    RefreshModel();
}

void CUtilityPage::RefreshModel() {
    model_->SetText(ModelOfSelectedDrive());
    model_->SetTextColor(QColor::fromRgb(kValueColour));
    model_->SetFontName(SkinFontFace());
    model_->SetFontSize(11);
}

void CUtilityPage::RefreshPage() { RefreshModel(); }

void CUtilityPage::OnExportLog() { (void)ExportLogFlow(); }

void CUtilityPage::OnDecryptLog() { (void)DecryptLogFlow(); }

}  // namespace tarvex::ui
