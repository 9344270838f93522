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

// Loads the system's font configuration on a thread of its own while the
// application object is made. Call first thing in main; ApplyTheme then
// waits for it, so that the window's first text finds it loaded instead of
// loading it a second time.
void WarmUpFonts();

} // namespace ktv
