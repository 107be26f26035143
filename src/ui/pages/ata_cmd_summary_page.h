#pragma once
// CAtaCmdSummaryPage: the read and write command statistics of JMF608 drives. Five grey
// captions (the read/write ratio and the four transfer sizes) with their values beside them,
// the read total and the write total of each size in two columns, and the button that starts
// reading the selected drive's statistics once a second.
#include <array>

#include "health/ata_statistics.h"
#include "ui/controls/bmp_btn_ctrl.h"
#include "ui/controls/label.h"
#include "ui/pages/korvane_page.h"

namespace tarvex::ui {

class CAtaCmdSummaryPage : public CKorvanePage {
    Q_OBJECT
public:
    static constexpr int kStartId = 1130;
    static constexpr int kRatioId = 1089;
    // Caption ids, top to bottom: the ratio, then 512 bytes, 4 KB, 32 KB and 64 KB.
    static constexpr std::array<int, 5> kCaptionIds = {1052, 1043, 1045, 1046, 1128};
    // The read and the write label of each transfer size, in the order of the buckets.
    static constexpr std::array<int, kStatisticsBucketCount> kReadIds = {1047, 1049, 1051, 1131};
    static constexpr std::array<int, kStatisticsBucketCount> kWriteIds = {1048, 1050, 1129, 1132};

    explicit CAtaCmdSummaryPage(QWidget* parent = nullptr);
    // The summary stops its worker as it goes.
    ~CAtaCmdSummaryPage() override = default;

    [[nodiscard]] int OperationKindOf(intptr_t threadData) const override;
    void OnProgress(int code, intptr_t threadData, int value) override;

    // The start button.
    void OnStart();

    [[nodiscard]] const AtaStatisticsSummary& Summary() const { return summary_; }
    [[nodiscard]] CLabel* Caption(int row) const { return captions_[static_cast<size_t>(row)]; }
    [[nodiscard]] CLabel* Ratio() const { return ratio_; }
    [[nodiscard]] CLabel* ReadValue(int bucket) const { return reads_[static_cast<size_t>(bucket)]; }
    [[nodiscard]] CLabel* WriteValue(int bucket) const { return writes_[static_cast<size_t>(bucket)]; }
    [[nodiscard]] CBmpBtnCtrl* StartButton() const { return start_; }

protected:
    void OnInitDialog() override;
    void Layout() override;
    void showEvent(QShowEvent* event) override;

private:
    // The value labels and the button from the summary's totals.
    void ShowTotals();

    AtaStatisticsSummary summary_;
    std::array<CLabel*, 5> captions_{};
    CLabel* ratio_ = nullptr;
    std::array<CLabel*, kStatisticsBucketCount> reads_{};
    std::array<CLabel*, kStatisticsBucketCount> writes_{};
    CBmpBtnCtrl* start_ = nullptr;
};

}  // namespace tarvex::ui
