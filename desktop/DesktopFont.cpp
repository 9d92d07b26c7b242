#include "desktop/DesktopFont.h"

#include <QApplication>
#include <QPushButton>
#include <QStyle>

namespace {
constexpr qreal LaidOutPoints = 9;

// The desktop's font size in points, also when it is given in pixels.
qreal DesktopPoints()
{
    const QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        return font.pointSizeF();
    return QFontInfo(font).pointSizeF();
}

// How much larger the desktop's font is than the laid-out one (never < 1).
qreal DesktopFontGrowth()
{
    return qMax<qreal>(1, DesktopPoints() / LaidOutPoints);
}
} // namespace

QFont DesktopFontOf(qreal statedPoints)
{
    QFont font = QApplication::font();
    font.setPointSizeF(DesktopPoints() * statedPoints / LaidOutPoints);
    return font;
}

int GrownWithFont(int pixels)
{
    return qRound(pixels * DesktopFontGrowth());
}

QSize ButtonSizeForCaption(const QPushButton *button, QSize stated)
{
    const QFontMetrics metrics = button->fontMetrics();
    const QStyle *style = button->style();
    // The frame (and a default button's ring) and a pixel of air on each side.
    const int sides =
        2 * (style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button) +
             style->pixelMetric(QStyle::PM_ButtonDefaultIndicator, nullptr, button) + 1);
    const QString caption = QString(button->text()).remove(QLatin1Char('&'));
    const QSize grown(GrownWithFont(stated.width()), GrownWithFont(stated.height()));
    return grown.expandedTo(
        QSize(metrics.horizontalAdvance(caption) + sides, metrics.height() + sides));
}
