#pragma once
// The Utilities page: Security Erase, firmware update, tool upgrade and the logs. Its controls
// come with the page's own work; for now it shows its background.
#include "ui/pages/korvane_page.h"

namespace tarvex::ui {

class CUtilityPage : public CKorvanePage {
    Q_OBJECT
public:
    explicit CUtilityPage(QWidget* parent = nullptr);
};

}  // namespace tarvex::ui
