#include "guard/GuardBus.h"
#include "guard/GuardCommands.h"

#include <QDBusConnectionInterface>
#include <QRegularExpression>

namespace {
// Who asked: our own command line says so; anything else is the desktop.
Guard::Origin OriginOf(const QVariantMap &platformData)
{
    return platformData.value(QStringLiteral("origin")).toString() ==
                   QLatin1String("command line")
               ? Guard::Origin::CommandLine
               : Guard::Origin::Desktop;
}

// A compositor's token lets the window come to the front (Wayland, X11).
void TakeActivationToken(const QVariantMap &platformData)
{
    for (const char *key : {"activation-token", "desktop-startup-id"}) {
        const QByteArray token = platformData.value(QString::fromLatin1(key)).toString().toUtf8();
        if (!token.isEmpty() && token.size() < 256) {
            qputenv("XDG_ACTIVATION_TOKEN", token);
            return;
        }
    }
}
} // namespace

GuardBus::GuardBus(Guard &guard, QDBusConnection bus, QObject *parent)
    : QObject(parent), m_guard(guard), m_bus(bus)
{
    new ApplicationAdaptor(this);
    auto *own = new GuardAdaptor(this);
    connect(&guard, &Guard::stateChanged, own,
            [own](Guard::State state) { Q_EMIT own->StateChanged(Guard::StateName(state)); });
    if (!m_bus.isConnected())
        return;
    if (!m_bus.registerObject(ObjectPath(), this))
        return;
    if (!m_bus.registerService(ServiceName())) {
        m_bus.unregisterObject(ObjectPath());
        return;
    }
    m_registered = true;
}

GuardBus::~GuardBus()
{
    if (!m_registered)
        return;
    m_bus.unregisterService(ServiceName());
    m_bus.unregisterObject(ObjectPath());
}

QString GuardBus::ServiceName()
{
    QString name = QStringLiteral("example.vekor.Tarvo2");
    QString instance = QString::fromLocal8Bit(qgetenv("TARVO2_TEST_INSTANCE"));
    instance.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_]")), QStringLiteral("_"));
    if (!instance.isEmpty())
        name += QStringLiteral(".Test_") + instance;
    return name;
}

ApplicationAdaptor::ApplicationAdaptor(GuardBus *bus) : QDBusAbstractAdaptor(bus), m_bus(bus) {}

void ApplicationAdaptor::Activate(const QVariantMap &platformData)
{
    TakeActivationToken(platformData);
    Q_EMIT m_bus->guard().showRequested();
}

void ApplicationAdaptor::Open(const QStringList &, const QVariantMap &platformData)
{
    Activate(platformData); // the program opens no files
}

void ApplicationAdaptor::ActivateAction(const QString &name, const QVariantList &,
                                        const QVariantMap &platformData)
{
    Guard &guard = m_bus->guard();
    if (name == QLatin1String("arm")) {
        GuardCommands::Arm(guard, OriginOf(platformData));
    } else if (name == QLatin1String("disarm")) {
        TakeActivationToken(platformData);
        GuardCommands::Disarm(guard, QString(), true, OriginOf(platformData));
    } else if (name == QLatin1String("show")) {
        Activate(platformData);
    }
}

GuardAdaptor::GuardAdaptor(GuardBus *bus) : QDBusAbstractAdaptor(bus), m_bus(bus)
{
    setAutoRelaySignals(false);
}

QString GuardAdaptor::state() const
{
    return Guard::StateName(m_bus->guard().state());
}

QString GuardAdaptor::Status()
{
    return QString::fromUtf8(GuardCommands::StatusJson(m_bus->guard()));
}

QString GuardAdaptor::Arm()
{
    return GuardCommands::Arm(m_bus->guard(), Guard::Origin::CommandLine);
}

QString GuardAdaptor::Disarm(const QString &pin, bool askInWindow)
{
    return GuardCommands::Disarm(m_bus->guard(), pin, askInWindow, Guard::Origin::CommandLine);
}
