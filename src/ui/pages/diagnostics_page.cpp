#include "ui/pages/diagnostics_page.h"

#include "app/messages.h"
#include "app/ui_language.h"
#include "health/self_test.h"
#include "ui/controls/skin.h"
#include "ui/controls/skin_font.h"
#include "ui/pages/page_texts.h"

namespace tarvex::ui {

namespace {

using Scan = DiagnosticsPageLogic::Scan;
constexpr Scan kScans[2] = {DiagnosticsPageLogic::kQuick, DiagnosticsPageLogic::kFull};

constexpr int kButtonBitmap = 191;
constexpr int kBarTrack = 174;
constexpr int kBarFill = 235;
constexpr int kBoxTicked = 233;
constexpr int kBoxClear = 234;

constexpr int kStringTitles[2] = {261, 262};
constexpr int kStringDescriptions[2] = {263, 264};
constexpr int kStringRun = 266;
constexpr int kStringCancel = 267;

// Places in the page's client area.
constexpr QRect kTitlePlaces[2] = {QRect(21, 10, 200, 20), QRect(290, 10, 200, 20)};
constexpr QRect kModelPlaces[2] = {QRect(24, 45, 250, 34), QRect(295, 45, 250, 34)};
constexpr QRect kDescriptionPlaces[2] = {QRect(24, 80, 250, 150), QRect(295, 80, 250, 150)};
constexpr QPoint kRunPlaces[2] = {QPoint(30, 240), QPoint(300, 240)};
constexpr QPoint kCancelPlaces[2] = {QPoint(125, 240), QPoint(395, 240)};
constexpr QRect kAlertTitlePlace(21, 295, 200, 20);
constexpr QRect kServiceCaptionPlace(25, 330, 130, 20);
constexpr QPoint kServiceBoxPlace(25, 357);
constexpr QRect kTemperatureCaptionPlace(120, 330, 160, 20);
constexpr QRect kTemperatureEditPlace(120, 359, 50, 30);
constexpr QPoint kTemperatureApplyPlace(225, 362);
constexpr QRect kLifeCaptionPlace(356, 330, 160, 20);
constexpr QRect kLifeEditPlace(356, 359, 50, 30);
constexpr QPoint kLifeApplyPlace(437, 362);

// Button texts are smaller for Russian and Japanese, whose words run longer.
int ButtonPointSize() { return UiLanguageId == 1049 || UiLanguageId == 1041 ? 9 : 11; }

}  // namespace

CDiagnoticsPage::CDiagnoticsPage(QWidget* parent) : CKorvanePage(130, 180, ResourceText(243), parent) {
    for (Scan s : kScans) {
        titles_[s] = new CLabel(this, kTitleIds[s]);
        models_[s] = new CLabel(this, kModelIds[s]);
        descriptions_[s] = new CLabel(this, kDescriptionIds[s]);
        runs_[s] = new CBmpBtnCtrl(this, kRunIds[s]);
        cancels_[s] = new CBmpBtnCtrl(this, kCancelIds[s]);
        bars_[s] = new CBitmapSlider(this, kBarIds[s]);
    }
    alertTitle_ = new CLabel(this, kAlertTitleId);
    temperatureCaption_ = new CLabel(this, kTemperatureCaptionId);
    serviceCaption_ = new CLabel(this, kServiceCaptionId);
    lifeCaption_ = new CLabel(this, kLifeCaptionId);
    temperatureEdit_ = new CEditTrans(this, kTemperatureEditId);
    lifeEdit_ = new CEditTrans(this, kLifeEditId);
    serviceBox_ = new CBmpBtnCtrl(this, kServiceBoxId);
    serviceBox_->setCheckable(true);
    temperatureApply_ = new CBmpBtnCtrl(this, kTemperatureApplyId);
    lifeApply_ = new CBmpBtnCtrl(this, kLifeApplyId);

    for (Scan s : kScans) {
        connect(runs_[s], &QAbstractButton::clicked, this, [this, s] { OnRun(s); });
        connect(cancels_[s], &QAbstractButton::clicked, this, [this, s] { OnCancel(s); });
    }
    connect(temperatureApply_, &QAbstractButton::clicked, this, [this] { OnApplyTemperature(); });
    connect(lifeApply_, &QAbstractButton::clicked, this, [this] { OnApplyLife(); });
    connect(serviceBox_, &QAbstractButton::clicked, this, [this](bool ticked) { OnServiceBox(ticked); });
}

void CDiagnoticsPage::OnInitDialog() {
    bool loaded = true;
    for (CBmpBtnCtrl* button : {runs_[0], cancels_[0], runs_[1], cancels_[1], temperatureApply_, lifeApply_}) {
        loaded = button->LoadBitmaps(kButtonBitmap) && loaded;
    }
    if (!loaded) {
        (void)ShowMessage(u"Error Loading Bitmap!!");
    }
    for (Scan s : kScans) {
        bars_[s]->LoadBitmaps(kBarTrack, kBarFill);
        bars_[s]->SetRange(0, 100);
    }

    const QString face = SkinFontFace();
    const auto style = [&face](CLabel* label, const QString& text, QRgb colour, int pointSize, bool bold) {
        label->SetText(text);
        label->SetTextColor(QColor::fromRgb(colour));
        label->SetFontName(face);
        label->SetFontSize(pointSize);
        label->SetFontBold(bold);
    };
    for (Scan s : kScans) {
        style(titles_[s], ResourceText(kStringTitles[s]), kTitleColour, 12, true);
        style(models_[s], QString(), kValueColour, 11, true);
        style(descriptions_[s], ResourceText(kStringDescriptions[s]), kCaptionColour, 9, false);
    }
    // The alert section's captions are the same in every language.
    style(alertTitle_, QStringLiteral("Alert Setting"), kTitleColour, 12, true);
    style(temperatureCaption_, QStringLiteral("Temperature Over"), kCaptionColour, 10, false);
    style(serviceCaption_, QStringLiteral("Service"), kCaptionColour, 10, false);
    style(lifeCaption_, QStringLiteral("Estimated Life Under"), kCaptionColour, 10, false);

    const QFont buttonFont = SkinFont(ButtonPointSize());
    for (Scan s : kScans) {
        runs_[s]->setText(ResourceText(kStringRun));
        cancels_[s]->setText(ResourceText(kStringCancel));
    }
    temperatureApply_->setText(QStringLiteral("Apply"));
    lifeApply_->setText(QStringLiteral("Apply"));
    for (CBmpBtnCtrl* button : {runs_[0], cancels_[0], runs_[1], cancels_[1], temperatureApply_, lifeApply_}) {
        button->SetTextFont(buttonFont);
    }
    temperatureEdit_->SetFontSize(11, true);
    lifeEdit_->SetFontSize(11, true);

    Layout();
    logic_.Initialize();
    SyncFromLogic(true);
}

void CDiagnoticsPage::Layout() {
    for (Scan s : kScans) {
        titles_[s]->setGeometry(kTitlePlaces[s]);
        models_[s]->setGeometry(kModelPlaces[s]);
        descriptions_[s]->setGeometry(kDescriptionPlaces[s]);
        runs_[s]->move(kRunPlaces[s]);
        cancels_[s]->move(kCancelPlaces[s]);
    }
    alertTitle_->setGeometry(kAlertTitlePlace);
    serviceCaption_->setGeometry(kServiceCaptionPlace);
    serviceBox_->move(kServiceBoxPlace);
    temperatureCaption_->setGeometry(kTemperatureCaptionPlace);
    temperatureEdit_->setGeometry(kTemperatureEditPlace);
    temperatureApply_->move(kTemperatureApplyPlace);
    lifeCaption_->setGeometry(kLifeCaptionPlace);
    lifeEdit_->setGeometry(kLifeEditPlace);
    lifeApply_->move(kLifeApplyPlace);
    PlaceBars();
}

void CDiagnoticsPage::PlaceBars() {
    for (Scan s : kScans) {
        const DiagnosticsPageLogic::ScanControls& c = logic_.Controls(s);
        bars_[s]->move(c.barX, c.barY);
    }
}

void CDiagnoticsPage::SyncFromLogic(bool reloadEdits) {
    for (Scan s : kScans) {
        const DiagnosticsPageLogic::ScanControls& c = logic_.Controls(s);
        runs_[s]->setEnabled(c.runEnabled);
        cancels_[s]->setEnabled(c.cancelEnabled);
        bars_[s]->SetPos(c.barPosition);
        bars_[s]->setVisible(c.barVisible);
    }
    PlaceBars();
    const QString model = ToQString(logic_.ModelLabel());
    for (CLabel* label : models_) {
        label->SetText(model);
    }
    if (reloadEdits) {
        temperatureEdit_->setText(ToQString(logic_.TemperatureText()));
        lifeEdit_->setText(ToQString(logic_.LifeText()));
    }
    const bool ticked = logic_.ServiceTicked();
    serviceBox_->setChecked(ticked);
    if (const int face = ticked ? kBoxTicked : kBoxClear; face != serviceBoxFace_) {
        serviceBox_->LoadBitmaps(face);
        serviceBoxFace_ = face;
    }
    const bool alertEnabled = logic_.AlertControlsEnabled();
    for (QWidget* control : {static_cast<QWidget*>(temperatureEdit_), static_cast<QWidget*>(lifeEdit_),
                             static_cast<QWidget*>(temperatureApply_), static_cast<QWidget*>(lifeApply_)}) {
        control->setEnabled(alertEnabled);
    }
}

void CDiagnoticsPage::RefreshPage() {
    logic_.LoadAlertSettings();
    SyncFromLogic(true);
}

void CDiagnoticsPage::OnRun(Scan scan) {
    logic_.Run(scan);
    SyncFromLogic(false);
}

void CDiagnoticsPage::OnCancel(Scan scan) {
    logic_.Cancel(scan);
    SyncFromLogic(false);
}

void CDiagnoticsPage::OnApplyTemperature() {
    logic_.ApplyTemperature(temperatureEdit_->text().toStdU16String());
    SyncFromLogic(false);
}

void CDiagnoticsPage::OnApplyLife() {
    logic_.ApplyLife(lifeEdit_->text().toStdU16String());
    SyncFromLogic(false);
}

void CDiagnoticsPage::OnServiceBox(bool ticked) {
    logic_.ServiceBoxClicked(ticked);
    SyncFromLogic(false);
}

int CDiagnoticsPage::OperationKindOf(intptr_t threadData) const {
    const auto* data = reinterpret_cast<const SelfTestThreadData*>(threadData);
    return data == nullptr ? 0 : data->operationKind;
}

int CDiagnoticsPage::ResultOf(intptr_t threadData) const {
    const auto* data = reinterpret_cast<const SelfTestThreadData*>(threadData);
    return data == nullptr ? 0 : LoadThreadResult(*data);
}

void CDiagnoticsPage::OnProgress(int code, intptr_t threadData, int value) {
    logic_.OnProgress(code, reinterpret_cast<const SelfTestThreadData*>(threadData), value);
    SyncFromLogic(false);
}

}  // namespace tarvex::ui
