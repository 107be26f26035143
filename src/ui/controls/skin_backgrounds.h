#pragma once
// The large pictures of the artwork: the main window's background, the page backgrounds and
// the detail popup's background. Each is drawn at the given size, with the key colour where
// the window shape leaves it out.
#include <QImage>

namespace tarvex::ui::art {

// Places of the main window (client pixels of the 860 x 640 background).
inline constexpr int kHeaderHeight = 110;
inline constexpr int kColumnWidth = 218;
inline constexpr int kSheetX = 228;
inline constexpr int kSheetY = 200;

QImage DrawWindowBackground(int width, int height);
// `resourceId` selects the arrangement of panels: 177 Drive Info, 178 System Info and ATA
// Command Summary, 179 Utilities, 180 Diagnostics, 187 System Optimization.
QImage DrawPageBackground(int resourceId, int width, int height);
QImage DrawPopupBackground(int width, int height);

}  // namespace tarvex::ui::art
