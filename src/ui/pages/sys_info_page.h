#pragma once
// CSysInfoPage: seven facts about the PC and this program, captions on the left in grey and
// values on the right in the value colour, copied from the system information once, when the
// page is initialised.
#include <array>

#include "ui/controls/label.h"
#include "ui/pages/korvane_page.h"

namespace tarvex::ui {

class CSysInfoPage : public CKorvanePage {
    Q_OBJECT
public:
    explicit CSysInfoPage(QWidget* parent = nullptr);

    struct Row {
        int captionId;
        int stringId;
        int valueId;
        QRect captionPlace;
        QRect valuePlace;
    };
    static const std::array<Row, 7>& Rows();

    [[nodiscard]] CLabel* Caption(int row) const { return captions_[static_cast<size_t>(row)]; }
    [[nodiscard]] CLabel* Value(int row) const { return values_[static_cast<size_t>(row)]; }

protected:
    void OnInitDialog() override;
    void Layout() override;

private:
    std::array<CLabel*, 7> captions_{};
    std::array<CLabel*, 7> values_{};
};

}  // namespace tarvex::ui
