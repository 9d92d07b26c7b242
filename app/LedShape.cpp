#include "app/LedShape.h"

#include <QPainter>

LedShape::LedShape(const QString &name, QWidget *parent) : QWidget(parent)
{
    setObjectName(name);
    setFixedSize(11, 11);
}

void LedShape::setLit(bool lit)
{
    const QColor next = lit ? litColor() : idleColor();
    if (next == m_color)
        return;
    m_color = next;
    update();
}

void LedShape::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(m_color);
    painter.drawEllipse(QRectF(0.5, 0.5, width() - 1.0, height() - 1.0));
}
