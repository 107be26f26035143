#include "ui/pages/ata_cmd_summary_page.h"

#include "app/messages.h"
#include "app/progress_message.h"
#include "drives/drive_table.h"
#include "ui/controls/skin.h"
#include "ui/controls/skin_font.h"
#include "ui/pages/page_texts.h"

namespace tarvex::ui {

namespace {

constexpr std::array<int, 5> kCaptionStrings = {332, 334, 335, 338, 336};
constexpr int kCaptionX = 15;
constexpr int kFirstRowY = 28;
constexpr int kRowStep = 48;
// The values sit right of the captions: the ratio across both columns, the read totals in the
// first column and the write totals in the second.
constexpr int kReadColumnX = 215;
constexpr int kWriteColumnX = 395;
constexpr int kColumnWidth = 170;
constexpr int kValueFontSize = 11;

int RowY(int row) { return kFirstRowY + kRowStep * row; }

}  // namespace

CAtaCmdSummaryPage::CAtaCmdSummaryPage(QWidget* parent) : CKorvanePage(184, 178, ResourceText(333), parent) {
    for (size_t i = 0; i < captions_.size(); ++i) {
        captions_[i] = new CLabel(this, kCaptionIds[i]);
    }
    ratio_ = new CLabel(this, kRatioId);
    for (size_t b = 0; b < kStatisticsBucketCount; ++b) {
        reads_[b] = new CLabel(this, kReadIds[b]);
        writes_[b] = new CLabel(this, kWriteIds[b]);
    }
    start_ = new CBmpBtnCtrl(this, kStartId);
    connect(start_, &QAbstractButton::clicked, this, &CAtaCmdSummaryPage::OnStart);
}

void CAtaCmdSummaryPage::Layout() {
    for (int row = 0; row < static_cast<int>(captions_.size()); ++row) {
        captions_[static_cast<size_t>(row)]->setGeometry(kCaptionX, RowY(row), 190, 20);
    }
    ratio_->setGeometry(kReadColumnX, RowY(0), kWriteColumnX + kColumnWidth - kReadColumnX, 20);
    for (int b = 0; b < kStatisticsBucketCount; ++b) {
        reads_[static_cast<size_t>(b)]->setGeometry(kReadColumnX, RowY(b + 1), kColumnWidth, 20);
        writes_[static_cast<size_t>(b)]->setGeometry(kWriteColumnX, RowY(b + 1), kColumnWidth, 20);
    }
    start_->move(35, 325);
}

void CAtaCmdSummaryPage::OnInitDialog() {
    start_->LoadBitmaps(182);
    Layout();
    const QString face = SkinFontFace();
    for (size_t i = 0; i < captions_.size(); ++i) {
        captions_[i]->SetText(ResourceText(kCaptionStrings[i]));
        captions_[i]->SetTextColor(QColor::fromRgb(kCaptionColour));
        captions_[i]->SetFontName(face);
        captions_[i]->SetFontSize(kValueFontSize);
    }
    std::vector<CLabel*> values{ratio_};
    values.insert(values.end(), reads_.begin(), reads_.end());
    values.insert(values.end(), writes_.begin(), writes_.end());
    for (CLabel* value : values) {
        value->SetText(QStringLiteral("N/A"));
        value->SetTextColor(QColor::fromRgb(kValueColour));
        value->SetFontName(face);
        value->SetFontSize(kValueFontSize);
    }
    start_->setText(QStringLiteral("Check ATA CMD"));
    start_->SetTextFont(SkinFont(kValueFontSize));
}

int CAtaCmdSummaryPage::OperationKindOf(intptr_t threadData) const {
    // Only the records of this page's own runs are read as statistics thread data; any other
    // address (another page's worker) has no kind here.
    if (!summary_.OwnsThreadData(threadData)) {
        return 0;
    }
    return reinterpret_cast<const AtaStatisticsThreadData*>(threadData)->operationKind;
}

void CAtaCmdSummaryPage::OnProgress(int code, intptr_t threadData, int) {
    if (summary_.HandleProgress(code, threadData)) {
        ShowTotals();
    }
}

void CAtaCmdSummaryPage::ShowTotals() {
    const AtaStatisticsTotals& totals = summary_.Totals();
    ratio_->SetText(ToQString(StatisticsRatioText(totals)));
    for (size_t b = 0; b < kStatisticsBucketCount; ++b) {
        reads_[b]->SetText(ToQString(StatisticsValueText(totals, totals.bucketReads[b])));
        writes_[b]->SetText(ToQString(StatisticsValueText(totals, totals.bucketWrites[b])));
    }
    start_->setEnabled(summary_.StartButtonEnabled());
}

void CAtaCmdSummaryPage::OnStart() {
    switch (summary_.Start(SelectedDrive)) {
    case AtaStatisticsSummary::kBusy:
        ShowBusyRefusal();
        break;
    case AtaStatisticsSummary::kNotSupported:
        (void)ShowMessage(u"Non-supported model");
        break;
    case AtaStatisticsSummary::kStarted:
    case AtaStatisticsSummary::kNoDrive:
        break;
    }
}

void CAtaCmdSummaryPage::showEvent(QShowEvent* event) {
    CKorvanePage::showEvent(event);
    summary_.Resume();
}

}  // namespace tarvex::ui
