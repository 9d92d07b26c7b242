// The pixmaps of the glyphs, taken from the pictures painted ahead when
// they fit, else painted here.

#include "app/Glyphs.h"

#include <QCoreApplication>

#include <array>
#include <future>
#include <memory>

namespace {

constexpr int ToggleKinds = 8;

// The pictures, in the order the window asks for them.
enum Slot
{
    Banner,
    Report,
    SmallMinus,
    SmallPlus,
    FirstToggle, // two per toggle kind: off, on
    SlotCount = FirstToggle + 2 * ToggleKinds
};

QImage Paint(int slot, qreal ratio)
{
    switch (slot) {
    case Banner:
        return BannerRaster(MainBannerSize, ratio);
    case Report:
        return ReportGlyphRaster(ratio);
    case SmallMinus:
    case SmallPlus:
        return SmallGlyphRaster(slot == SmallPlus, ratio);
    default:
        return ToggleRaster(static_cast<ToggleGlyph>((slot - FirstToggle) / 2),
                            (slot - FirstToggle) % 2, ratio);
    }
}

// Filled by the painting thread, one picture after the other; read on the
// user-interface thread.
struct Ahead
{
    qreal ratio = 1.0;
    std::array<std::promise<QImage>, SlotCount> promised;
    std::array<std::shared_future<QImage>, SlotCount> pictures;
    std::future<void> painter;
};

std::unique_ptr<Ahead> &AheadOnce()
{
    static std::unique_ptr<Ahead> ahead;
    return ahead;
}

// The painting ends before the application does (a start that ends at a
// failed check leaves at once): fonts are the application's.
void FinishPainting()
{
    if (std::unique_ptr<Ahead> &ahead = AheadOnce()) {
        ahead->painter.wait();
        ahead.reset();
    }
}

// The picture painted ahead for this ratio (waiting for it), else painted now.
QPixmap Glyph(int slot)
{
    const qreal ratio = GlyphPixelRatio();
    const std::unique_ptr<Ahead> &ahead = AheadOnce();
    QImage image = ahead && ahead->ratio == ratio ? ahead->pictures[slot].get() : QImage();
    if (image.isNull())
        image = Paint(slot, ratio);
    return QPixmap::fromImage(image);
}

} // namespace

void PaintGlyphsAhead()
{
    std::unique_ptr<Ahead> &ahead = AheadOnce();
    if (ahead)
        return;
    ahead = std::make_unique<Ahead>();
    qAddPostRoutine(FinishPainting);
    ahead->ratio = GlyphPixelRatio();
    for (int slot = 0; slot < SlotCount; ++slot)
        ahead->pictures[slot] = ahead->promised[slot].get_future().share();
    // FinishPainting waits for the thread before the pictures go.
    ahead->painter = std::async(std::launch::async, [pictures = ahead.get()] {
        for (int slot = 0; slot < SlotCount; ++slot)
            pictures->promised[slot].set_value(Paint(slot, pictures->ratio));
    });
}

QPixmap ToggleImage(ToggleGlyph kind, int index)
{
    const int k = static_cast<int>(kind);
    if (k < 0 || k >= ToggleKinds)
        return QPixmap::fromImage(ToggleRaster(kind, index, GlyphPixelRatio()));
    return Glyph(FirstToggle + 2 * k + (index == 1 ? 1 : 0));
}

QPixmap ReportGlyphPair()
{
    return Glyph(Report);
}

QPixmap SmallGlyphPair(bool plus)
{
    return Glyph(plus ? SmallPlus : SmallMinus);
}

QPixmap BannerPixmap(QSize size)
{
    if (size != MainBannerSize)
        return QPixmap::fromImage(BannerRaster(size, GlyphPixelRatio()));
    return Glyph(Banner);
}
