#pragma once
// Reads the contrast of text as it was really painted: the most common
// colour of a label's area is its background, the pixel farthest from it
// the text's colour.

#include "info/ReadableText.h"

#include <QAbstractButton>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QTest>
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

// How many pixels focusing a widget changed to a colour of at least
// minimumRatio against the panel under it.
inline int focusPixelsStandingOut(const QImage &before, const QImage &after, const QColor &panel,
                                  double minimumRatio)
{
    int count = 0;
    if (before.size() != after.size())
        return count;
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x)
            count += after.pixel(x, y) != before.pixel(x, y) &&
                     ContrastRatio(QColor::fromRgb(after.pixel(x, y)), panel) >= minimumRatio;
    return count;
}

// Focuses, one after another, every button of window that sits on a
// coloured panel (a bar); tells each whose focus does not stand out from the
// panel at 3:1 or more over at least half the button's outline. Counts the
// buttons tried.
inline QStringList unseenFocus(QWidget *window, int *tried)
{
    QStringList unseen;
    *tried = 0;
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        QWidget *panel = button->parentWidget();
        if (!button->isVisible() || !button->isEnabled() || !panel->autoFillBackground())
            continue;
        ++*tried;
        panel->setFocus();
        button->clearFocus();
        const bool left = QTest::qWaitFor([&] { return !button->hasFocus(); }, 20000);
        const QImage before = button->grab().toImage();
        button->setFocus(Qt::TabFocusReason);
        if (!left || !QTest::qWaitFor([&] { return button->hasFocus(); }, 20000)) {
            unseen << button->objectName() + QStringLiteral(" takes no focus");
            continue;
        }
        QCoreApplication::processEvents();
        const QImage after = button->grab().toImage();
        const QColor ground = panel->palette().color(panel->backgroundRole());
        if (focusPixelsStandingOut(before, after, ground, 3.0) < button->width() + button->height())
            unseen << button->objectName() + QStringLiteral(" on ") + ground.name();
    }
    return unseen;
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
