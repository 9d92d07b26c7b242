#include "desktop/TrayIcon.h"

#include <QIconEngine>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSystemTrayIcon>

namespace {
void Paint(QPainter &p, const QRectF &box, TrayIcon::State state)
{
    using S = TrayIcon::State;
    const qreal s = std::min(box.width(), box.height());
    const QRectF r(box.center().x() - s / 2, box.center().y() - s / 2, s, s);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill;
    switch (state) {
    case S::Disarmed:
        fill = QColor(0x8a, 0x8a, 0x8a);
        break;
    case S::Arming:
        fill = QColor(0xe0, 0x9a, 0x10);
        break;
    case S::Armed:
        fill = QColor(0x1e, 0x9e, 0x3e);
        break;
    case S::Alarm:
        fill = QColor(0xd8, 0x1e, 0x1e);
        break;
    }
    // A shield: the same outline in every state, so the colour and the mark
    // inside tell the state apart also for colour-blind eyes.
    QPainterPath shield;
    shield.moveTo(r.center().x(), r.top() + s * 0.04);
    shield.lineTo(r.right() - s * 0.1, r.top() + s * 0.18);
    shield.cubicTo(r.right() - s * 0.1, r.top() + s * 0.6, r.center().x() + s * 0.2,
                   r.bottom() - s * 0.12, r.center().x(), r.bottom() - s * 0.03);
    shield.cubicTo(r.center().x() - s * 0.2, r.bottom() - s * 0.12, r.left() + s * 0.1,
                   r.top() + s * 0.6, r.left() + s * 0.1, r.top() + s * 0.18);
    shield.closeSubpath();
    p.setPen(QPen(fill.darker(150), std::max(1.0, s * 0.05)));
    p.setBrush(state == S::Disarmed ? QColor(0xf2, 0xf2, 0xf2) : fill);
    p.drawPath(shield);

    const QColor mark = state == S::Disarmed ? fill.darker(130) : Qt::white;
    const qreal w = std::max(1.0, s * 0.09);
    p.setPen(QPen(mark, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const QPointF c = r.center();
    switch (state) {
    case S::Disarmed: // an open ring
        p.drawEllipse(c, s * 0.16, s * 0.16);
        break;
    case S::Arming: // a clock hand
        p.drawEllipse(c, s * 0.2, s * 0.2);
        p.drawLine(c, c + QPointF(0, -s * 0.13));
        p.drawLine(c, c + QPointF(s * 0.1, 0));
        break;
    case S::Armed: // a tick
        p.drawPolyline(QPolygonF{c + QPointF(-s * 0.17, 0), c + QPointF(-s * 0.04, s * 0.13),
                                 c + QPointF(s * 0.19, -s * 0.14)});
        break;
    case S::Alarm: // an exclamation mark
        p.drawLine(c + QPointF(0, -s * 0.24), c + QPointF(0, s * 0.06));
        p.setBrush(mark);
        p.setPen(Qt::NoPen);
        p.drawEllipse(c + QPointF(0, s * 0.2), w * 0.7, w * 0.7);
        break;
    }
}

// Drawn at the size and scale asked for, so it stays sharp on any screen.
class ShieldEngine : public QIconEngine
{
public:
    explicit ShieldEngine(TrayIcon::State state) : m_state(state) {}
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override
    {
        Paint(*painter, rect, m_state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }
    // Qt hands over the size in device pixels here.
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode, QIcon::State, qreal scale) override
    {
        const qreal dpr = scale > 0 ? scale : 1.0;
        const int pixels = std::min(size.width(), size.height());
        QImage image = TrayIcon::Render(m_state, pixels, 1.0);
        image.setDevicePixelRatio(dpr);
        return QPixmap::fromImage(image);
    }
    QIconEngine *clone() const override { return new ShieldEngine(m_state); }
    QString key() const override { return QStringLiteral("tarvo2-shield"); }

private:
    TrayIcon::State m_state;
};
} // namespace

QImage TrayIcon::Render(State state, int size, qreal dpr)
{
    const int pixels = std::max(1, qRound(size * dpr));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        Paint(painter, QRectF(0, 0, pixels, pixels), state);
    }
    image.setDevicePixelRatio(dpr);
    return image;
}

QIcon TrayIcon::Icon(State state)
{
    return QIcon(new ShieldEngine(state));
}

TrayIcon::TrayIcon(std::function<bool()> available, QObject *parent)
    : QObject(parent),
      m_available(available ? std::move(available)
                            : [] { return QSystemTrayIcon::isSystemTrayAvailable(); }),
      m_menu(std::make_unique<QMenu>())
{
    m_menu->setObjectName(QStringLiteral("popTray"));
    m_show = m_menu->addAction(QStringLiteral("Show Tarvo2"));
    m_show->setObjectName(QStringLiteral("trayShow"));
    m_toggle = m_menu->addAction(QString());
    m_toggle->setObjectName(QStringLiteral("trayToggle"));
    m_menu->addSeparator();
    m_exit = m_menu->addAction(QStringLiteral("Exit"));
    m_exit->setObjectName(QStringLiteral("trayExit"));
    connect(m_show, &QAction::triggered, this, &TrayIcon::showRequested);
    connect(m_toggle, &QAction::triggered, this, &TrayIcon::toggleRequested);
    connect(m_exit, &QAction::triggered, this, &TrayIcon::exitRequested);
    update();
}

TrayIcon::~TrayIcon()
{
    delete m_tray;
}

void TrayIcon::show()
{
    if (m_tray || !isAvailable())
        return;
    m_tray = new QSystemTrayIcon();
    m_tray->setContextMenu(m_menu.get());
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick)
            Q_EMIT showRequested();
    });
    update();
    m_tray->show();
}

void TrayIcon::setArmState(State armState)
{
    m_armState = armState == State::Alarm ? State::Armed : armState;
    if (m_armState == State::Disarmed)
        m_alarm = false;
    update();
}

void TrayIcon::setAlarm(bool raised)
{
    m_alarm = raised && m_armState != State::Disarmed;
    update();
}

void TrayIcon::setToggleEnabled(bool enabled)
{
    m_toggle->setEnabled(enabled);
}

TrayIcon::State TrayIcon::state() const
{
    return m_alarm ? State::Alarm : m_armState;
}

QString TrayIcon::toolTip() const
{
    switch (state()) {
    case State::Disarmed:
        return QStringLiteral("Tarvo2 - disarmed");
    case State::Arming:
        return QStringLiteral("Tarvo2 - arming");
    case State::Armed:
        return QStringLiteral("Tarvo2 - armed");
    case State::Alarm:
        return QStringLiteral("Tarvo2 - ALARM");
    }
    return QString();
}

void TrayIcon::update()
{
    m_toggle->setText(m_armState == State::Disarmed ? QStringLiteral("Arm")
                                                    : QStringLiteral("Disarm"));
    if (!m_tray)
        return;
    m_tray->setIcon(Icon(state()));
    m_tray->setToolTip(toolTip());
}
