#include "ui/korvane_property_sheet.h"

namespace tarvex::ui {

CKorvanePropertySheet::CKorvanePropertySheet(QWidget* parent) : QStackedWidget(parent) {
    setObjectName(QStringLiteral("600"));
    setWindowTitle(QStringLiteral("Tarvex Property Sheet"));
    setAccessibleName(QStringLiteral("Tarvex Property Sheet"));
}

void CKorvanePropertySheet::AddPage(CKorvanePage* page) {
    addWidget(page);
    page->resize(size());
    page->InitPage();
}

void CKorvanePropertySheet::SetActivePage(int index) {
    if (index >= 0 && index < count()) {
        setCurrentIndex(index);
    }
}

CKorvanePage* CKorvanePropertySheet::Page(int index) const {
    return qobject_cast<CKorvanePage*>(widget(index));
}

}  // namespace tarvex::ui
