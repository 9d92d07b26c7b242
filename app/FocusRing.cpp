#include "app/FocusRing.h"

#include <QAbstractButton>
#include <QEvent>
#include <QPainter>

namespace {

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
        const bool darkPanel = panel->palette().color(QPalette::Window).lightness() < 128;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        // A wide ring in the panel's opposite tone, edged by a thin one in
        // its own, so that it shows on any glyph colour.
        const QColor ring = darkPanel ? QColor(Qt::white) : QColor(0, 95, 140);
        const QColor edge = darkPanel ? QColor(0, 0, 0) : QColor(Qt::white);
        const QRectF outer = QRectF(rect()).adjusted(2, 2, -2, -2);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(ring, 3));
        painter.drawEllipse(outer);
        painter.setPen(QPen(edge, 1));
        painter.drawEllipse(outer.adjusted(2, 2, -2, -2));
    }

private:
    QAbstractButton *m_button;
};

} // namespace

void AddFocusRing(QAbstractButton *button)
{
    new FocusRing(button);
}
