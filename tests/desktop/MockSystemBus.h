#pragma once
// A private D-Bus daemon standing in for the system bus, with python3-dbusmock
// services (logind, upower templates) on it. Every process is killed when
// the object goes.

#include "common/PrivateBus.h"
#include "common/StopProcess.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QProcess>
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
        m_bus.start();
        m_address = m_bus.address();
    }
    ~MockSystemBus()
    {
        for (auto &service : m_services)
            stopProcess(*service, 3000);
        if (!m_name.isEmpty())
            QDBusConnection::disconnectFromBus(m_name);
        m_bus.stop();
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
        QStringList args{QStringLiteral("--template"), name};
        if (!parameters.isEmpty())
            args << QStringLiteral("--parameters") << parameters;
        return startMock(args, busName);
    }

    // A bare dbusmock object owning busName, for a service without a
    // template; a test gives it properties and methods (addMethod). Any
    // service can stand in this way, session services too.
    bool startObject(const QString &busName, const QString &path, const QString &interface)
    {
        return startMock({busName, path, interface}, busName);
    }

    // A method whose Python code sets "ret" (dbusmock's AddMethod).
    bool addMethod(const QString &service, const QString &path, const QString &interface,
                   const QString &name, const QString &inSignature, const QString &outSignature,
                   const QString &code)
    {
        return call(service, path, QStringLiteral("org.freedesktop.DBus.Mock"),
                    QStringLiteral("AddMethod"), {interface, name, inSignature, outSignature, code})
                   .type() == QDBusMessage::ReplyMessage;
    }

    // How often a mock's method was called; -1 when the mock did not answer.
    int methodCalls(const QString &service, const QString &path, const QString &name)
    {
        const QDBusMessage reply = call(service, path, QStringLiteral("org.freedesktop.DBus.Mock"),
                                        QStringLiteral("GetMethodCalls"), {name});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return -1;
        const QDBusArgument calls = reply.arguments().constFirst().value<QDBusArgument>();
        int count = 0;
        calls.beginArray();
        while (!calls.atEnd()) {
            calls.beginStructure();
            qulonglong time = 0;
            calls >> time;
            calls.endStructure();
            ++count;
        }
        calls.endArray();
        return count;
    }

    // Ends every service started so far; the bus stays.
    void stopServices()
    {
        QDBusConnection bus = connection();
        for (auto &service : m_services)
            stopProcess(*service, 3000);
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
        return callOn(connection(), service, path, interface, method, args);
    }
    // The same on any connection; a reply within 10 s.
    static QDBusMessage callOn(QDBusConnection bus, const QString &service, const QString &path,
                               const QString &interface, const QString &method,
                               const QVariantList &args = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(args);
        return bus.call(message, QDBus::Block, 10000);
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
    // Starts python3-dbusmock with arguments and waits until busName is on the bus.
    bool startMock(const QStringList &arguments, const QString &busName)
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_address);
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Debian's dbusmock is installed for the system's Python.
        process->start(QStringLiteral("/usr/bin/python3"),
                       QStringList{QStringLiteral("-m"), QStringLiteral("dbusmock"),
                                   QStringLiteral("--system")} +
                           arguments);
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

    PrivateBus m_bus;
    QString m_address;
    QString m_name;
    std::vector<std::unique_ptr<QProcess>> m_services;
};

struct Inhibitor
{
    QString what, who, why, mode;
};

// The inhibitor locks the mock logind holds.
inline QList<Inhibitor> ListInhibitors(MockSystemBus &bus)
{
    const QDBusMessage reply = bus.call(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("ListInhibitors"));
    QList<Inhibitor> result;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return result;
    const QDBusArgument arg = reply.arguments().constFirst().value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        Inhibitor entry;
        uint uid = 0, pid = 0;
        arg.beginStructure();
        arg >> entry.what >> entry.who >> entry.why >> entry.mode >> uid >> pid;
        arg.endStructure();
        result.append(entry);
    }
    arg.endArray();
    return result;
}

} // namespace tarvo::test
