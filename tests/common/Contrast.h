#pragma once
// Reads the contrast of text as it was really painted: the most common
// colour of a label's area is its background, the pixel farthest from it
// the text's colour.

#include "info/ReadableText.h"

#include <QHash>
#include <QImage>
#include <QLabel>
#include <QWidget>

namespace tarvo::test {

struct PaintedContrast
{
    QColor background;
    QColor text;
    double ratio = 0;
};

inline PaintedContrast paintedContrast(const QImage &windowImage, const QWidget *window,
                                       const QWidget *widget)
{
    const qreal dpr = windowImage.devicePixelRatio();
    const QRect area(widget->mapTo(window, QPoint(0, 0)) * dpr, widget->size() * dpr);
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (windowImage.rect().contains(x, y))
                ++counts[windowImage.pixel(x, y) | 0xff000000u];
    PaintedContrast result;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            result.background = QColor::fromRgb(it.key());
        }
    }
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const double ratio = ContrastRatio(QColor::fromRgb(it.key()), result.background);
        if (ratio > result.ratio) {
            result.ratio = ratio;
            result.text = QColor::fromRgb(it.key());
        }
    }
    return result;
}

// A palette like a dark desktop colour scheme's: light text on dark ground.
inline QPalette darkPalette()
{
    QPalette p;
    const QColor dark(45, 45, 48), darker(30, 30, 32), light(235, 235, 235);
    p.setColor(QPalette::Window, dark);
    p.setColor(QPalette::WindowText, light);
    p.setColor(QPalette::Base, darker);
    p.setColor(QPalette::AlternateBase, dark);
    p.setColor(QPalette::Text, light);
    p.setColor(QPalette::Button, dark);
    p.setColor(QPalette::ButtonText, light);
    p.setColor(QPalette::ToolTipBase, dark);
    p.setColor(QPalette::ToolTipText, light);
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(130, 130, 130));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(130, 130, 130));
    return p;
}

} // namespace tarvo::test
