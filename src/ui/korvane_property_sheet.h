#pragma once
// CKorvanePropertySheet: the child window (id 600, "Tarvex Property Sheet") that hosts the six
// pages without tabs. The current page fills the sheet; the others are hidden.
#include <QStackedWidget>
#include <vector>

#include "ui/pages/korvane_page.h"

namespace tarvex::ui {

class CKorvanePropertySheet : public QStackedWidget {
    Q_OBJECT
public:
    explicit CKorvanePropertySheet(QWidget* parent = nullptr);

    // Adds a page in order and initialises it, as the sheet does when it creates its pages.
    void AddPage(CKorvanePage* page);
    void SetActivePage(int index);
    [[nodiscard]] int ActiveIndex() const { return currentIndex(); }
    [[nodiscard]] CKorvanePage* Page(int index) const;
    [[nodiscard]] int PageCount() const { return count(); }
};

}  // namespace tarvex::ui
