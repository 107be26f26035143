#pragma once
// The application icon (resource 128): a drive with the program's accent, in the sizes the
// window and the task bar use.
#include <QIcon>

namespace tarvex::ui {

QIcon ApplicationIcon();

}  // namespace tarvex::ui
