#pragma once
// The Drive Info page: the selected drive's identity, partitions, health, life, written total and
// temperature. Its controls come with the page's own work; for now it shows its background.
#include "ui/pages/korvane_page.h"

namespace tarvex::ui {

class CDriveInfoPage : public CKorvanePage {
    Q_OBJECT
public:
    explicit CDriveInfoPage(QWidget* parent = nullptr);
};

}  // namespace tarvex::ui
