#pragma once
// The guard on the session bus: the application id as its name, with
// org.freedesktop.Application (Activate, Open, ActivateAction: arm, disarm,
// show) for launchers, and the program's own interface for panels and
// scripts (the State property, StateChanged, Status, Arm, Disarm). Without
// a session bus, or with the name taken, the guard goes on without it.

#include "guard/Guard.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QVariantMap>

class GuardBus : public QObject
{
    Q_OBJECT
public:
    explicit GuardBus(Guard &guard, QDBusConnection bus = QDBusConnection::sessionBus(),
                      QObject *parent = nullptr);
    ~GuardBus() override;

    // "example.vekor.Tarvo2"; test runs add their instance name.
    static QString ServiceName();
    static QString ObjectPath() { return QStringLiteral("/example/vekor/Tarvo2"); }
    static QString Interface() { return QStringLiteral("example.vekor.Tarvo2"); }
    // True once the name is ours and the object answers.
    bool registered() const { return m_registered; }
    Guard &guard() { return m_guard; }

private:
    Guard &m_guard;
    QDBusConnection m_bus;
    bool m_registered = false;
};

// org.freedesktop.Application
class ApplicationAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit ApplicationAdaptor(GuardBus *bus);

public Q_SLOTS:
    void Activate(const QVariantMap &platformData);
    void Open(const QStringList &uris, const QVariantMap &platformData);
    void ActivateAction(const QString &name, const QVariantList &parameter,
                        const QVariantMap &platformData);

private:
    GuardBus *m_bus;
};

// The program's own interface.
class GuardAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "example.vekor.Tarvo2")
    Q_PROPERTY(QString State READ state)
public:
    explicit GuardAdaptor(GuardBus *bus);
    QString state() const;

public Q_SLOTS:
    QString Status();
    // Empty when armed, else why not.
    QString Arm();
    // "disarmed", "not armed", "pin needed", "wrong pin"; an empty PIN with
    // one set asks for it in the window when askInWindow.
    QString Disarm(const QString &pin, bool askInWindow);

Q_SIGNALS:
    void StateChanged(const QString &state);

private:
    GuardBus *m_bus;
};
