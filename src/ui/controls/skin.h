#pragma once
// The program's artwork: every bitmap resource of the window and its pages, by resource id,
// drawn by the program itself in the sizes the layout needs. Pixels of the key colour
// RGB(128, 128, 0) are transparent: a window shaped by its background leaves them out, and a
// skinned control does not paint them.
#include <QImage>
#include <QPixmap>
#include <QRegion>
#include <QSize>
#include <vector>

namespace tarvex::ui {

inline constexpr QRgb kKeyColour = 0xFF808000;  // RGB(128, 128, 0)

// Colours of the look.
inline constexpr QRgb kTitleColour = 0xFFFFFFFF;    // titles, white
inline constexpr QRgb kCaptionColour = 0xFF808080;  // captions, RGB(128, 128, 128)
inline constexpr QRgb kValueColour = 0xFF01B6FB;    // values, RGB(1, 182, 251)
inline constexpr QRgb kAccentColour = 0xFF6DBD0C;   // accent, RGB(109, 189, 12)

// The picture of a bitmap resource; a null image when the program has no such resource, or
// when it was marked missing.
QImage LoadSkinImage(int resourceId);
QPixmap LoadSkinBitmap(int resourceId);
// Its size; an empty size when there is no such resource.
QSize SkinBitmapSize(int resourceId);
// Every resource id the program has artwork for, ascending.
std::vector<int> SkinResourceIds();

// Marks resources as missing, so the paths that handle a bitmap that cannot be loaded can be
// exercised (tests, and the TARVEX_SKIN_MISSING variable: a comma list of ids, read once).
void SetMissingSkinBitmaps(std::vector<int> ids);

// The region of the image without its key-colour pixels, built row by row from the runs of
// other colours.
QRegion RegionWithoutKeyColour(const QImage& image);

}  // namespace tarvex::ui
