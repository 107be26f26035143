#include "ui/pages/sys_info_page.h"


#include "platform/platform.h"
#include "sysinfo/system_info.h"
#include "ui/controls/skin.h"
#include "ui/controls/skin_font.h"
#include "ui/pages/page_texts.h"

namespace tarvex::ui {

namespace {
QString Text(const char16_t* text) { return QString::fromUtf16(text); }
}  // namespace

const std::array<CSysInfoPage::Row, 7>& CSysInfoPage::Rows() {
    static const std::array<Row, 7> rows = {{
        {1052, 274, 1089, QRect(15, 28, 190, 20), QRect(210, 28, 300, 20)},
        {1042, 275, 1047, QRect(15, 52, 190, 20), QRect(210, 52, 300, 20)},
        {1043, 276, 1048, QRect(15, 76, 190, 20), QRect(210, 76, 350, 20)},
        {1044, 277, 1049, QRect(15, 100, 190, 20), QRect(210, 100, 90, 20)},
        {1045, 278, 1050, QRect(15, 124, 190, 20), QRect(210, 124, 270, 20)},
        {1046, 279, 1051, QRect(15, 148, 190, 20), QRect(210, 148, 150, 20)},
        {1128, 324, 1129, QRect(15, 172, 190, 20), QRect(210, 172, 150, 20)},
    }};
    return rows;
}

CSysInfoPage::CSysInfoPage(QWidget* parent) : CKorvanePage(133, 178, ResourceText(246), parent) {
    for (size_t i = 0; i < Rows().size(); ++i) {
        captions_[i] = new CLabel(this, Rows()[i].captionId);
        values_[i] = new CLabel(this, Rows()[i].valueId);
    }
}

void CSysInfoPage::Layout() {
    for (size_t i = 0; i < Rows().size(); ++i) {
        captions_[i]->setGeometry(Rows()[i].captionPlace);
        values_[i]->setGeometry(Rows()[i].valuePlace);
    }
}

void CSysInfoPage::OnInitDialog() {
    Layout();
    // The runtime's conversions follow the user's locale of the PC, as the values were read.
    if (auto* system = platform::Current().system) {
        (void)system->SetLocale(platform::kLcAll, u"");
    }
    const SystemInfo& info = GlobalSystemInfo();
    const char16_t* values[7] = {info.ToolVersion,     info.OsName,         info.CpuName,    info.TotalMemoryMb,
                                 info.BaseBoardVendor, info.BaseBoardModel, info.BiosVersion};
    const QString face = SkinFontFace();
    for (size_t i = 0; i < Rows().size(); ++i) {
        captions_[i]->SetText(ResourceText(Rows()[i].stringId));
        values_[i]->SetText(Text(values[i]));
        captions_[i]->SetTextColor(QColor::fromRgb(kCaptionColour));
        values_[i]->SetTextColor(QColor::fromRgb(kValueColour));
        for (CLabel* label : {captions_[i], values_[i]}) {
            label->SetFontName(face);
            label->SetFontSize(11);
        }
    }
}

}  // namespace tarvex::ui
