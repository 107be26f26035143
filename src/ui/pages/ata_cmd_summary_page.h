#pragma once
// The ATA Command Summary page: the read and write statistics of JMF608 drives. Its controls come
// with the page's own work; for now it shows its background.
#include "ui/pages/korvane_page.h"

namespace tarvex::ui {

class CAtaCmdSummaryPage : public CKorvanePage {
    Q_OBJECT
public:
    explicit CAtaCmdSummaryPage(QWidget* parent = nullptr);
};

}  // namespace tarvex::ui
