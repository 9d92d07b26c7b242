#include "info/InfoLook.h"

#include "desktop/DesktopFont.h"
#include "info/ReadableText.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QVBoxLayout>
#include <QtMath>

QVBoxLayout *SetUpInfoWindow(QWidget *window, const QString &objectName, QSize clientSize,
                             const QString &title)
{
    window->setObjectName(objectName);
    window->setFixedSize(GrownWithFont(clientSize.width()), GrownWithFont(clientSize.height()));
    window->setAutoFillBackground(true);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, Qt::white);
    window->setPalette(palette);

    auto *root = new QVBoxLayout(window);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(MakeBar(window, QStringLiteral("Panel1"), title, QStringLiteral("Label10")));
    KeepTextReadable(window); // white background whatever the colour scheme
    return root;
}

QFrame *MakeBar(QWidget *parent, const QString &objectName, const QString &title,
                const QString &titleLabelName)
{
    auto *bar = new QFrame(parent);
    bar->setObjectName(objectName);
    bar->setFixedHeight(GrownWithFont(25));
    bar->setAutoFillBackground(true);
    QPalette palette = bar->palette();
    palette.setColor(QPalette::Window, BarColor);
    bar->setPalette(palette);
    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(8, 0, 4, 0);
    if (!title.isEmpty()) {
        auto *label = new QLabel(title, bar);
        label->setObjectName(titleLabelName);
        label->setFont(DesktopFontOf(12)); // 16 px at 96 dpi
        QPalette textPalette = label->palette();
        textPalette.setColor(QPalette::WindowText, BarTextColor);
        label->setPalette(textPalette);
        layout->addWidget(label);
    }
    layout->addStretch();
    return bar;
}

namespace {
// A pixmap of logicalSize at pixelRatio: painting on it in logical
// coordinates fills every device pixel, so it stays sharp when scaled.
QPixmap ScaledPixmap(QSize logicalSize, qreal pixelRatio)
{
    const qreal ratio = qMax<qreal>(1.0, pixelRatio);
    QPixmap pixmap(qCeil(logicalSize.width() * ratio), qCeil(logicalSize.height() * ratio));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}
} // namespace

QPixmap WelcomePicture(qreal pixelRatio)
{
    QPixmap pixmap = ScaledPixmap(QSize(64, 48), pixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    // A glossy ball in the bar colour with a waving hand's worth of warmth:
    // a smile under two eyes.
    const QRectF ball(9, 1, 46, 46);
    QRadialGradient gloss(ball.center() - QPointF(9, 11), ball.width() * 0.75);
    gloss.setColorAt(0.0, QColor(170, 215, 245));
    gloss.setColorAt(0.45, QColor(30, 125, 185));
    gloss.setColorAt(1.0, QColor(0, 60, 100));
    painter.setPen(QPen(QColor(0, 45, 80), 1));
    painter.setBrush(gloss);
    painter.drawEllipse(ball);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 235));
    painter.drawEllipse(QPointF(25, 19), 3.2, 4.2);
    painter.drawEllipse(QPointF(39, 19), 3.2, 4.2);
    QPen smile(QColor(255, 255, 255, 235), 3.2, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(smile);
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(20, 18, 24, 18), 200 * 16, 140 * 16);

    // Highlight for the glossy look.
    QLinearGradient shine(0, 3, 0, 20);
    shine.setColorAt(0, QColor(255, 255, 255, 150));
    shine.setColorAt(1, QColor(255, 255, 255, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shine);
    painter.drawEllipse(QRectF(19, 3, 26, 14));
    return pixmap;
}

QPixmap VekorLogo(qreal pixelRatio)
{
    QPixmap pixmap = ScaledPixmap(QSize(212, 40), pixelRatio);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // A "V" mark in a rounded square, then the name.
    const QRectF mark(2, 2, 36, 36);
    QLinearGradient fill(mark.topLeft(), mark.bottomLeft());
    fill.setColorAt(0, QColor(40, 140, 200));
    fill.setColorAt(1, BarColor);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(mark, 7, 7);
    QPainterPath vee;
    vee.moveTo(10, 10);
    vee.lineTo(20, 31);
    vee.lineTo(30, 10);
    painter.setPen(QPen(Qt::white, 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(vee);

    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(28);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    painter.setFont(font);
    painter.setPen(BarColor);
    painter.drawText(QRectF(46, 0, 166, 30), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("VEKOR"));
    QFont small = font;
    small.setPixelSize(9);
    small.setBold(false);
    small.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    painter.setFont(small);
    painter.setPen(QColor(90, 110, 130));
    painter.drawText(QRectF(47, 27, 165, 12), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("SECURITY SOFTWARE"));
    return pixmap;
}
