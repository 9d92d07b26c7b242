#include "app/Glyphs.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

struct BallColors
{
    QColor light, base, edge;
};

const BallColors Blue{QColor(160, 210, 255), QColor(25, 105, 190), QColor(0, 35, 85)};
const BallColors Red{QColor(255, 170, 160), QColor(215, 25, 20), QColor(95, 0, 0)};
const QColor FlatBlue(25, 50, 95);
const QColor FlatRed(105, 20, 20);
const QColor DimSymbol(215, 170, 170);
const QColor IdleColor(0, 95, 140);

enum class Look
{
    Glossy,
    Flat
};

void DrawBall(QPainter &painter, const QRectF &ball, const BallColors &colors)
{
    QRadialGradient body(ball.center() + QPointF(-ball.width() * 0.18, -ball.height() * 0.22),
                         ball.width() * 0.72);
    body.setColorAt(0.0, colors.light);
    body.setColorAt(0.5, colors.base);
    body.setColorAt(1.0, colors.edge);
    painter.setPen(QPen(colors.edge.darker(130), 1));
    painter.setBrush(body);
    painter.drawEllipse(ball);

    // The glossy highlight across the top.
    const QRectF shine(ball.left() + ball.width() * 0.2, ball.top() + ball.height() * 0.06,
                       ball.width() * 0.6, ball.height() * 0.38);
    QLinearGradient fade(shine.topLeft(), shine.bottomLeft());
    fade.setColorAt(0, QColor(255, 255, 255, 170));
    fade.setColorAt(1, QColor(255, 255, 255, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(fade);
    painter.drawEllipse(shine);
}

void DrawFlatBall(QPainter &painter, const QRectF &ball, const QColor &color)
{
    painter.setPen(QPen(color.darker(140), 1));
    painter.setBrush(color);
    painter.drawEllipse(ball);
}

// Symbols are drawn for a 40 x 40 cell centred at the origin.
void DrawMicrophone(QPainter &painter, const QColor &color)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawRoundedRect(QRectF(-4, -12, 8, 15), 4, 4);
    QPen pen(color, 2, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(-7.5, -7, 15, 14), 180 * 16, 180 * 16);
    painter.drawLine(QPointF(0, 7), QPointF(0, 11));
    painter.drawLine(QPointF(-5, 11.5), QPointF(5, 11.5));
}

void DrawHandOnMouse(QPainter &painter, const QColor &color)
{
    // The mouse, with its cable and the line between the buttons.
    QPen pen(color, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(-7, -5, 14, 18), 7, 7);
    painter.drawLine(QPointF(0, -5), QPointF(0, 2));
    QPainterPath cable;
    cable.moveTo(0, -5);
    cable.cubicTo(0, -10, 5, -9, 5, -13);
    painter.drawPath(cable);
    // The hand: three fingers resting on the buttons and a palm behind.
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawRoundedRect(QRectF(-6.5, -2, 3.4, 9), 1.7, 1.7);
    painter.drawRoundedRect(QRectF(-2.2, -3, 3.4, 10), 1.7, 1.7);
    painter.drawRoundedRect(QRectF(2.1, -2, 3.4, 9), 1.7, 1.7);
    painter.drawRoundedRect(QRectF(-6.5, 5, 12, 7), 3, 3);
    painter.drawRoundedRect(QRectF(-10, 2, 4, 7), 2, 2); // thumb
}

void DrawGrid(QPainter &painter, const QColor &color)
{
    QPen pen(color, 1.8, Qt::SolidLine, Qt::SquareCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const qreal half = 9;
    for (int i = 0; i < 4; ++i) {
        const qreal at = -half + i * (2 * half / 3);
        painter.drawLine(QPointF(at, -half), QPointF(at, half));
        painter.drawLine(QPointF(-half, at), QPointF(half, at));
    }
}

void DrawKeyboard(QPainter &painter, const QColor &color)
{
    // A keyboard's outline with two rows of keys and a space bar.
    painter.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(-12, -7, 24, 14), 2, 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    for (int row = 0; row < 2; ++row)
        for (int key = 0; key < 5; ++key)
            painter.drawRect(QRectF(-9.5 + key * 4, -4.5 + row * 3.6, 2.6, 2.4));
    painter.drawRect(QRectF(-6, 2.8, 12, 2.2));
}

void DrawCamera(QPainter &painter, const QColor &color)
{
    // A camera's body, its lens and the bump of the finder.
    painter.setPen(QPen(color, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(-11, -6, 22, 15), 2.5, 2.5);
    painter.drawEllipse(QPointF(0, 1.5), 4.6, 4.6);
    painter.drawLine(QPointF(-4, -6), QPointF(-2.5, -9));
    painter.drawLine(QPointF(-2.5, -9), QPointF(2.5, -9));
    painter.drawLine(QPointF(2.5, -9), QPointF(4, -6));
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QPointF(0, 1.5), 1.8, 1.8);
}

void DrawUsb(QPainter &painter, const QColor &color)
{
    // The USB trident: a stem with a round foot, a circle and a square branch.
    painter.setPen(QPen(color, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawLine(QPointF(0, -9), QPointF(0, 9));
    painter.drawLine(QPointF(0, 4), QPointF(-6, -1));
    painter.drawLine(QPointF(-6, -1), QPointF(-6, -4));
    painter.drawLine(QPointF(0, 6), QPointF(6, 1));
    painter.drawLine(QPointF(6, 1), QPointF(6, -2));
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QPointF(0, 10), 2.6, 2.6);
    painter.drawEllipse(QPointF(-6, -5.5), 2.2, 2.2);
    painter.drawRect(QRectF(4, -5.5, 4, 4));
    QPainterPath arrow;
    arrow.moveTo(0, -13);
    arrow.lineTo(-3, -8);
    arrow.lineTo(3, -8);
    arrow.closeSubpath();
    painter.drawPath(arrow);
}

void DrawNetwork(QPainter &painter, const QColor &color)
{
    // A network plug with its cable.
    painter.setPen(QPen(color, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(-7, -11, 14, 11), 1.5, 1.5);
    painter.drawLine(QPointF(-3, 0), QPointF(-3, 3));
    painter.drawLine(QPointF(3, 0), QPointF(3, 3));
    painter.drawLine(QPointF(-4.5, 3), QPointF(4.5, 3));
    QPainterPath cable;
    cable.moveTo(0, 3);
    cable.cubicTo(0, 9, 7, 7, 7, 12);
    painter.drawPath(cable);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    for (int pin = 0; pin < 4; ++pin)
        painter.drawRect(QRectF(-5 + pin * 2.8, -9, 1.4, 3.5));
}

void DrawWord(QPainter &painter, const QColor &color, const QString &word, qreal width)
{
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(10);
    // Shrink until the word fits inside the ball.
    while (font.pixelSize() > 6 && QFontMetricsF(font).horizontalAdvance(word) > width)
        font.setPixelSize(font.pixelSize() - 1);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRectF(-20, -10, 40, 20), Qt::AlignCenter, word);
}

void DrawDocument(QPainter &painter, const QColor &color)
{
    QPainterPath page;
    page.moveTo(-7, -11);
    page.lineTo(3, -11);
    page.lineTo(8, -6);
    page.lineTo(8, 11);
    page.lineTo(-7, 11);
    page.closeSubpath();
    painter.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(page);
    painter.drawPolyline(QPolygonF{QPointF(3, -11), QPointF(3, -6), QPointF(8, -6)});
    for (qreal y : {-3.0, 1.0, 5.0})
        painter.drawLine(QPointF(-4, y), QPointF(5, y));
}

void DrawSign(QPainter &painter, const QColor &color, bool plus, qreal arm)
{
    QPen pen(color, arm * 0.55, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    painter.drawLine(QPointF(-arm, 0), QPointF(arm, 0));
    if (plus)
        painter.drawLine(QPointF(0, -arm), QPointF(0, arm));
}

// A shadowed symbol, so it stays readable on the highlight.
template <typename Draw>
void DrawSymbol(QPainter &painter, QPointF centre, qreal scale, const QColor &color, Draw draw)
{
    painter.save();
    painter.translate(centre + QPointF(0.6, 0.8));
    painter.scale(scale, scale);
    draw(painter, QColor(0, 0, 0, 90));
    painter.restore();
    painter.save();
    painter.translate(centre);
    painter.scale(scale, scale);
    draw(painter, color);
    painter.restore();
}

// Pixmaps are painted at the screen's pixel ratio, so glyphs stay sharp on
// scaled screens; painters on them keep working in logical pixels.
// Images, not pixmaps: they may be painted on any thread.
QImage EmptyImage(QSize logicalSize, qreal ratio)
{
    QImage image(logicalSize * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    return image;
}

QImage EmptyPair(int cell, qreal ratio)
{
    return EmptyImage(QSize(2 * cell, cell), ratio);
}

// One 40 x 40 glyph in the cell at x.
template <typename Draw>
void PaintGlyph(QPainter &painter, qreal x, int cell, Look look, const BallColors &colors,
                const QColor &flatColor, const QColor &symbolColor, Draw draw)
{
    const QRectF ball(x + 1.5, 1.5, cell - 3, cell - 3);
    if (look == Look::Glossy)
        DrawBall(painter, ball, colors);
    else
        DrawFlatBall(painter, ball, flatColor);
    if (symbolColor.isValid())
        DrawSymbol(painter, ball.center(), cell / 40.0, symbolColor, draw);
}

} // namespace

qreal GlyphPixelRatio()
{
    return qGuiApp ? qMax<qreal>(1.0, qGuiApp->devicePixelRatio()) : 1.0;
}

QImage ToggleRaster(ToggleGlyph kind, int index, qreal ratio)
{
    const bool on = index == 1;
    auto symbol = [kind, on](QPainter &painter, const QColor &color) {
        switch (kind) {
        case ToggleGlyph::Microphone:
            DrawMicrophone(painter, color);
            break;
        case ToggleGlyph::Mouse:
            DrawHandOnMouse(painter, color);
            break;
        case ToggleGlyph::Simulation:
            DrawGrid(painter, color);
            break;
        case ToggleGlyph::Keyboard:
            DrawKeyboard(painter, color);
            break;
        case ToggleGlyph::Camera:
            DrawCamera(painter, color);
            break;
        case ToggleGlyph::Usb:
            DrawUsb(painter, color);
            break;
        case ToggleGlyph::Network:
            DrawNetwork(painter, color);
            break;
        case ToggleGlyph::Activate:
            DrawWord(painter, color, on ? QStringLiteral("Stop") : QStringLiteral("Activate"), 31);
            break;
        }
    };

    const int cell = 40;
    QImage pair = EmptyPair(cell, ratio);
    QPainter painter(&pair);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (on) {
        PaintGlyph(painter, 0, cell, Look::Glossy, Red, FlatRed, Qt::white, symbol);
        PaintGlyph(painter, cell, cell, Look::Flat, Red, FlatRed, DimSymbol, symbol);
    } else {
        PaintGlyph(painter, 0, cell, Look::Glossy, Blue, FlatBlue, Qt::white, symbol);
        PaintGlyph(painter, cell, cell, Look::Flat, Blue, FlatBlue, QColor(), symbol);
    }
    return pair;
}

QImage ReportGlyphRaster(qreal ratio)
{
    const int cell = 40;
    QImage pair = EmptyPair(cell, ratio);
    QPainter painter(&pair);
    painter.setRenderHint(QPainter::Antialiasing);
    PaintGlyph(painter, 0, cell, Look::Glossy, Blue, FlatBlue, Qt::white, DrawDocument);
    PaintGlyph(painter, cell, cell, Look::Flat, Blue, FlatBlue, QColor(120, 140, 175),
               DrawDocument);
    return pair;
}

QImage SmallGlyphRaster(bool plus, qreal ratio)
{
    const int cell = 21;
    auto sign = [plus](QPainter &painter, const QColor &color) {
        DrawSign(painter, color, plus, 11);
    };
    QImage pair = EmptyPair(cell, ratio);
    QPainter painter(&pair);
    painter.setRenderHint(QPainter::Antialiasing);
    PaintGlyph(painter, 0, cell, Look::Glossy, Blue, FlatBlue, Qt::white, sign);
    PaintGlyph(painter, cell, cell, Look::Flat, Blue, FlatBlue, QColor(120, 140, 175), sign);
    return pair;
}

QIcon IconFromGlyphPair(const QPixmap &pair)
{
    // In device pixels; the halves keep the pair's pixel ratio.
    const int half = pair.width() / 2;
    QPixmap enabled = pair.copy(0, 0, half, pair.height());
    QPixmap disabled = pair.copy(half, 0, half, pair.height());
    enabled.setDevicePixelRatio(pair.devicePixelRatio());
    disabled.setDevicePixelRatio(pair.devicePixelRatio());
    QIcon icon;
    for (QIcon::State state : {QIcon::Off, QIcon::On}) {
        icon.addPixmap(enabled, QIcon::Normal, state);
        icon.addPixmap(enabled, QIcon::Active, state);
        icon.addPixmap(enabled, QIcon::Selected, state);
        icon.addPixmap(disabled, QIcon::Disabled, state);
    }
    return icon;
}

QImage BannerRaster(QSize size, qreal ratio)
{
    QImage banner = EmptyImage(size, ratio);
    banner.fill(IdleColor);
    QPainter painter(&banner);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const qreal h = size.height();

    // A shield with a bell on it.
    const qreal s = h * 0.8 / 40.0; // the motif is drawn for a 40-pixel height
    painter.save();
    painter.translate(h * 0.12 + 2, h * 0.1);
    painter.scale(s, s);
    QPainterPath shield;
    shield.moveTo(16, 0);
    shield.cubicTo(22, 4, 28, 5, 32, 5);
    shield.cubicTo(32, 22, 27, 33, 16, 40);
    shield.cubicTo(5, 33, 0, 22, 0, 5);
    shield.cubicTo(4, 5, 10, 4, 16, 0);
    QLinearGradient metal(0, 0, 32, 40);
    metal.setColorAt(0, QColor(235, 245, 255));
    metal.setColorAt(1, QColor(150, 190, 220));
    painter.setPen(QPen(QColor(0, 50, 80), 1.2));
    painter.setBrush(metal);
    painter.drawPath(shield);
    QPainterPath bell;
    bell.moveTo(9, 26);
    bell.cubicTo(11, 24, 10, 12, 16, 11);
    bell.cubicTo(22, 12, 21, 24, 23, 26);
    bell.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(215, 30, 25));
    painter.drawPath(bell);
    painter.drawEllipse(QPointF(16, 28.5), 2.4, 2.4);
    painter.drawEllipse(QPointF(16, 10), 1.6, 1.6);
    painter.restore();

    // The word mark.
    const qreal textLeft = h * 0.12 + 2 + 32 * s + h * 0.25;
    QFont font(QStringLiteral("Sans Serif"));
    font.setBold(true);
    font.setPixelSize(qMax(8, int(h * 0.55)));
    painter.setFont(font);
    painter.setPen(QColor(249, 253, 255));
    const QRectF textBox(textLeft, 0, size.width() - textLeft, h * 0.72);
    painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Tarvo"));
    const qreal tarvoWidth = QFontMetricsF(font).horizontalAdvance(QStringLiteral("Tarvo"));
    painter.setPen(QColor(255, 95, 80));
    painter.drawText(textBox.translated(tarvoWidth, 0), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("2"));
    QFont small = font;
    small.setBold(false);
    small.setPixelSize(qMax(6, int(h * 0.2)));
    small.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    painter.setFont(small);
    painter.setPen(QColor(190, 215, 235));
    painter.drawText(QRectF(textLeft + 1, h * 0.68, size.width() - textLeft, h * 0.28),
                     Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("DESKTOP ALARM"));
    return banner;
}
