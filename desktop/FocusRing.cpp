#include "desktop/FocusRing.h"

#include <QAbstractButton>
#include <QColor>
#include <QEvent>
#include <QPainter>
#include <QToolButton>
#include <cmath>

namespace {

double Luminance(const QColor &colour)
{
    auto linear = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
           0.0722 * linear(rgb.blueF());
}

class FocusRing : public QWidget
{
public:
    explicit FocusRing(QAbstractButton *button) : QWidget(button), m_button(button)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(button->rect());
        setVisible(button->hasFocus());
        button->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_button)
            return false;
        switch (event->type()) {
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            setVisible(m_button->hasFocus());
            raise();
            break;
        case QEvent::Resize:
            setGeometry(m_button->rect());
            break;
        default:
            break;
        }
        return false;
    }

    void paintEvent(QPaintEvent *) override
    {
        const QWidget *panel = m_button->parentWidget() ? m_button->parentWidget() : m_button;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        // A wide ring in the panel's opposite tone, edged by a thin one in
        // its own, so that it shows on any glyph or button colour.
        const QColor ring = FocusRingColor(panel->palette().color(QPalette::Window));
        const QColor edge = ring == QColor(Qt::white) ? QColor(Qt::black) : QColor(Qt::white);
        painter.setBrush(Qt::NoBrush);
        if (qobject_cast<QToolButton *>(m_button)) {
            const QRectF outer = QRectF(rect()).adjusted(2, 2, -2, -2);
            painter.setPen(QPen(ring, 3));
            painter.drawEllipse(outer);
            painter.setPen(QPen(edge, 1));
            painter.drawEllipse(outer.adjusted(2, 2, -2, -2));
            return;
        }
        const QRectF outer = QRectF(rect()).adjusted(1, 1, -1, -1);
        painter.setPen(QPen(ring, 2));
        painter.drawRoundedRect(outer, 3, 3);
        painter.setPen(QPen(edge, 1));
        painter.drawRoundedRect(outer.adjusted(1.5, 1.5, -1.5, -1.5), 2, 2);
    }

private:
    QAbstractButton *m_button;
};

} // namespace

void AddFocusRing(QAbstractButton *button)
{
    new FocusRing(button);
}

QColor FocusRingColor(const QColor &panel)
{
    const double ground = Luminance(panel);
    // Contrast against white (1.05 / (L + 0.05)) or black ((L + 0.05) / 0.05).
    return 1.05 / (ground + 0.05) >= (ground + 0.05) / 0.05 ? QColor(Qt::white) : QColor(Qt::black);
}
