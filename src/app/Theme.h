#pragma once
// The look of the application: palette, font, and the pictures we draw
// ourselves (Connect glyphs, the product picture of the About box).

#include <QPixmap>

class QApplication;
class QWidget;

namespace ktv {

inline constexpr const char* ProductName = "KTV Tune";

void ApplyTheme(QApplication& app);
// The sky-blue background of the SUB and SRS pages.
void PaintSkyBlue(QWidget* page);
// Glyph 0: not connected; glyph 1: connected.
QPixmap ConnectGlyph(int index);
QPixmap ProductPicture(int width, int height);

// Loads the system's font configuration on a thread of its own, so that it
// is ready, or nearly, when the window first measures a text. Call first
// thing in main, before the application object exists.
void WarmUpFonts();

} // namespace ktv
