#include "app/LedShape.h"

#include <QAccessibleWidget>
#include <QPainter>

namespace {

// Screen readers get the LED as an indicator whose checked state is "lit",
// with the description "on" or "off".
class LedAccessible : public QAccessibleWidget
{
public:
    explicit LedAccessible(QWidget *widget) : QAccessibleWidget(widget, QAccessible::Indicator) {}

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = static_cast<LedShape *>(widget())->isLit();
        return s;
    }
};

QAccessibleInterface *ledFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("LedShape") && object && object->isWidgetType())
        return new LedAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

LedShape::LedShape(const QString &name, QWidget *parent) : QWidget(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(ledFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setObjectName(name);
    setFixedSize(11, 11);
    setAccessibleDescription(QStringLiteral("off"));
}

void LedShape::setLit(bool lit)
{
    const QColor next = lit ? litColor() : idleColor();
    if (next == m_color)
        return;
    m_color = next;
    setAccessibleDescription(lit ? QStringLiteral("on") : QStringLiteral("off"));
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
    update();
}

void LedShape::paintEvent(QPaintEvent *)
{
    // Drawn as a shape at the device's own resolution: sharp at any scale.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(m_color);
    painter.drawEllipse(QRectF(0.5, 0.5, width() - 1.0, height() - 1.0));
}
