#pragma once
// The System Optimization page: TRIM and the OS settings for SSDs. Its controls come with the
// page's own work; for now it shows its background.
#include "ui/pages/korvane_page.h"

namespace tarvex::ui {

class CSysOptimizationPage : public CKorvanePage {
    Q_OBJECT
public:
    explicit CSysOptimizationPage(QWidget* parent = nullptr);
};

}  // namespace tarvex::ui
