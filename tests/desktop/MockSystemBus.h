#pragma once
// A private D-Bus daemon standing in for the system bus, with python3-dbusmock
// services (logind, upower templates) on it. Every process is killed when
// the object goes.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <memory>
#include <vector>

namespace tarvo::test {

class MockSystemBus
{
public:
    MockSystemBus()
    {
        m_daemon.setProgram(QStringLiteral("dbus-daemon"));
        m_daemon.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                               QStringLiteral("--print-address=1"),
                               QStringLiteral("--address=unix:dir=") + m_dir.path()});
        m_daemon.start();
        if (!m_daemon.waitForStarted(10000))
            return;
        QDeadlineTimer deadline(20000);
        while (!m_daemon.canReadLine() && !deadline.hasExpired())
            m_daemon.waitForReadyRead(200);
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~MockSystemBus()
    {
        for (auto &service : m_services)
            stop(*service);
        if (!m_name.isEmpty())
            QDBusConnection::disconnectFromBus(m_name);
        stop(m_daemon);
    }

    QString address() const { return m_address; }

    // A connection of the code under test, unique to this bus.
    QDBusConnection connection()
    {
        if (m_name.isEmpty()) {
            m_name = QStringLiteral("mockbus-") + QUuid::createUuid().toString(QUuid::Id128);
            QDBusConnection::connectToBus(m_address, m_name);
        }
        return QDBusConnection(m_name);
    }

    // Starts a dbusmock template and waits until its name is on the bus.
    bool startTemplate(const QString &name, const QString &busName,
                       const QString &parameters = QString())
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_address);
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args{QStringLiteral("-m"), QStringLiteral("dbusmock"),
                         QStringLiteral("--system"), QStringLiteral("--template"), name};
        if (!parameters.isEmpty())
            args << QStringLiteral("--parameters") << parameters;
        // Debian's dbusmock is installed for the system's Python.
        process->start(QStringLiteral("/usr/bin/python3"), args);
        if (!process->waitForStarted(10000))
            return false;
        m_services.push_back(std::move(process));
        QDBusConnection bus = connection();
        QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired()) {
            if (bus.interface()->isServiceRegistered(busName))
                return true;
            QTest::qWait(100);
        }
        return false;
    }

    // Ends every service started so far; the bus stays.
    void stopServices()
    {
        QDBusConnection bus = connection();
        for (auto &service : m_services)
            stop(*service);
        m_services.clear();
        for (const QString &name :
             {QStringLiteral("org.freedesktop.login1"), QStringLiteral("org.freedesktop.UPower")}) {
            QDeadlineTimer deadline(10000);
            while (bus.interface()->isServiceRegistered(name) && !deadline.hasExpired())
                QTest::qWait(50);
        }
    }

    // Calls a method on a mock object and returns the reply.
    QDBusMessage call(const QString &service, const QString &path, const QString &interface,
                      const QString &method, const QVariantList &args = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(args);
        return connection().call(message, QDBus::Block, 10000);
    }

    // Adds or changes a property; dbusmock signals PropertiesChanged.
    bool setProperty(const QString &service, const QString &path, const QString &interface,
                     const QString &name, const QVariant &value)
    {
        const QDBusMessage added =
            call(service, path, QStringLiteral("org.freedesktop.DBus.Mock"),
                 QStringLiteral("AddProperty"),
                 {interface, name, QVariant::fromValue(QDBusVariant(value))});
        if (added.type() == QDBusMessage::ReplyMessage)
            return true; // AddProperty does not signal, but the value is there
        const QDBusMessage set = call(
            service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
            {interface, name, QVariant::fromValue(QDBusVariant(value))});
        return set.type() == QDBusMessage::ReplyMessage;
    }

    // Changes an existing property with its PropertiesChanged signal.
    bool changeProperty(const QString &service, const QString &path, const QString &interface,
                        const QString &name, const QVariant &value)
    {
        const QDBusMessage set = call(
            service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
            {interface, name, QVariant::fromValue(QDBusVariant(value))});
        return set.type() == QDBusMessage::ReplyMessage;
    }

private:
    static void stop(QProcess &process)
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QString m_name;
    std::vector<std::unique_ptr<QProcess>> m_services;
};

} // namespace tarvo::test
