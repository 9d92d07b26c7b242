#pragma once
// The main window's painted pictures: the toggle buttons' glyph pairs, the
// fixed glyphs of the report and sound list buttons, and the banner. A glyph
// pair is two glyphs side by side: left as the button looks while enabled,
// right while disabled.

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>

enum class ToggleGlyph
{
    Microphone,
    Mouse,
    Simulation,
    Activate,
    Keyboard,
    Camera,
    Usb,
    Network
};

// The pixel ratio glyphs are painted at: the highest of the screens'. Sizes
// below are logical; the pixmaps hold that many pixels times this ratio.
qreal GlyphPixelRatio();

// 80 x 40: index 0 (switch off) a glossy blue ball with the symbol, disabled
// a plain flat dark blue ball; index 1 (switch on) a glossy red ball with
// the symbol ("Stop" for Activate), disabled a dark red ball with it.
QPixmap ToggleImage(ToggleGlyph kind, int index);

// 80 x 40: a glossy blue ball with a document.
QPixmap ReportGlyphPair();

// 42 x 21: a small blue ball with a plus (plus = true) or a minus.
QPixmap SmallGlyphPair(bool plus);

// The left half as the icon's normal look, the right half as its disabled
// look, so a button shows the glyph that fits its state.
QIcon IconFromGlyphPair(const QPixmap &pair);

// The product banner for the top bar (made for about 200 x 46).
QPixmap BannerPixmap(QSize size);

// The size the main window shows the banner at.
// 140 wide, not 200: every detector button of the top row fits beside it.
inline constexpr QSize MainBannerSize(140, 29);

// Starts painting every picture above that the main window shows at start
// (the banner at MainBannerSize) on a thread of its own, at the current
// pixel ratio: the functions above then take them from there, waiting for
// one that is not painted yet. Painting took a tenth of the window's start.
// Once per process; the functions paint themselves at any other ratio.
void PaintGlyphsAhead();

// The same pictures as images at the given pixel ratio. Unlike the
// functions above they may run on any thread.
QImage ToggleRaster(ToggleGlyph kind, int index, qreal ratio);
QImage ReportGlyphRaster(qreal ratio);
QImage SmallGlyphRaster(bool plus, qreal ratio);
QImage BannerRaster(QSize size, qreal ratio);
