// The pixmaps of the glyphs, taken from the pictures painted ahead when
// they fit, else painted here.

#include "app/Glyphs.h"

#include <QCoreApplication>

#include <array>
#include <functional>
#include <future>
#include <memory>

namespace {

constexpr int ToggleKinds = 5;

// Filled by the painting thread, one picture after the other in the order
// the window asks for them; read on the user-interface thread.
struct Ahead
{
    qreal ratio = 1.0;
    std::shared_future<QImage> banner, report;
    std::array<std::shared_future<QImage>, 2> small;
    std::array<std::array<std::shared_future<QImage>, 2>, ToggleKinds> toggles;
    std::future<void> painter;
};

std::unique_ptr<Ahead> &AheadOnce()
{
    static std::unique_ptr<Ahead> ahead;
    return ahead;
}

// The picture painted ahead for this ratio (waiting for it), else a null one.
QImage Painted(std::shared_future<QImage> Ahead::*which, qreal ratio)
{
    const std::unique_ptr<Ahead> &ahead = AheadOnce();
    return ahead && ahead->ratio == ratio ? ((*ahead).*which).get() : QImage();
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

QPixmap FromAheadOr(const QImage &ahead, const std::function<QImage()> &paint)
{
    return QPixmap::fromImage(ahead.isNull() ? paint() : ahead);
}

} // namespace

void PaintGlyphsAhead()
{
    std::unique_ptr<Ahead> &ahead = AheadOnce();
    if (ahead)
        return;
    ahead = std::make_unique<Ahead>();
    qAddPostRoutine(FinishPainting);
    const qreal ratio = GlyphPixelRatio();
    ahead->ratio = ratio;
    auto banner = std::make_shared<std::promise<QImage>>();
    auto report = std::make_shared<std::promise<QImage>>();
    std::array<std::shared_ptr<std::promise<QImage>>, 2> small;
    std::array<std::array<std::shared_ptr<std::promise<QImage>>, 2>, ToggleKinds> toggles;
    ahead->banner = banner->get_future().share();
    ahead->report = report->get_future().share();
    for (int plus = 0; plus < 2; ++plus) {
        small[plus] = std::make_shared<std::promise<QImage>>();
        ahead->small[plus] = small[plus]->get_future().share();
    }
    for (int kind = 0; kind < ToggleKinds; ++kind)
        for (int index = 0; index < 2; ++index) {
            toggles[kind][index] = std::make_shared<std::promise<QImage>>();
            ahead->toggles[kind][index] = toggles[kind][index]->get_future().share();
        }
    ahead->painter = std::async(std::launch::async, [=] {
        banner->set_value(BannerRaster(MainBannerSize, ratio));
        report->set_value(ReportGlyphRaster(ratio));
        for (int plus = 0; plus < 2; ++plus)
            small[plus]->set_value(SmallGlyphRaster(plus == 1, ratio));
        for (int kind = 0; kind < ToggleKinds; ++kind)
            for (int index = 0; index < 2; ++index)
                toggles[kind][index]->set_value(
                    ToggleRaster(static_cast<ToggleGlyph>(kind), index, ratio));
    });
}

QPixmap ToggleImage(ToggleGlyph kind, int index)
{
    const qreal ratio = GlyphPixelRatio();
    const std::unique_ptr<Ahead> &ahead = AheadOnce();
    const int k = static_cast<int>(kind), i = index == 1 ? 1 : 0;
    QImage painted;
    if (ahead && ahead->ratio == ratio && k >= 0 && k < ToggleKinds)
        painted = ahead->toggles[k][i].get();
    return FromAheadOr(painted, [&] { return ToggleRaster(kind, index, ratio); });
}

QPixmap ReportGlyphPair()
{
    const qreal ratio = GlyphPixelRatio();
    return FromAheadOr(Painted(&Ahead::report, ratio), [&] { return ReportGlyphRaster(ratio); });
}

QPixmap SmallGlyphPair(bool plus)
{
    const qreal ratio = GlyphPixelRatio();
    const std::unique_ptr<Ahead> &ahead = AheadOnce();
    const QImage painted =
        ahead && ahead->ratio == ratio ? ahead->small[plus ? 1 : 0].get() : QImage();
    return FromAheadOr(painted, [&] { return SmallGlyphRaster(plus, ratio); });
}

QPixmap BannerPixmap(QSize size)
{
    const qreal ratio = GlyphPixelRatio();
    const QImage painted = size == MainBannerSize ? Painted(&Ahead::banner, ratio) : QImage();
    return FromAheadOr(painted, [&] { return BannerRaster(size, ratio); });
}
