// The background portal asked on a private session bus: a small portal in
// this test answers as the desktop would (allowed, refused), and a bus
// without one leaves the request "unavailable" without waiting.

#include "common/PrivateBus.h"
#include "common/TestMain.h"
#include "desktop/BackgroundPortal.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTimer>

// org.freedesktop.portal.Background as the desktop offers it: the request
// object is named after the caller and its token, and its Response follows
// the method's answer.
class FakeBackgroundPortal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Background")
public:
    explicit FakeBackgroundPortal(QDBusConnection bus) : m_bus(std::move(bus)) {}

    uint response = 0; // 0 allowed, 1 cancelled by the user
    bool allowed = true;
    int calls = 0;
    QString parentWindow;
    QVariantMap options;

public Q_SLOTS:
    QDBusObjectPath RequestBackground(const QString &parent, const QVariantMap &requestOptions,
                                      const QDBusMessage &message)
    {
        ++calls;
        parentWindow = parent;
        options = requestOptions;
        const QString path = BackgroundPortal::RequestPath(
            message.service(), requestOptions.value(QStringLiteral("handle_token")).toString());
        QTimer::singleShot(0, this, [this, path] {
            QDBusMessage signal = QDBusMessage::createSignal(
                path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
            signal << response
                   << QVariantMap{{QStringLiteral("background"), allowed},
                                  {QStringLiteral("autostart"), false}};
            m_bus.send(signal);
        });
        return QDBusObjectPath(path);
    }

private:
    QDBusConnection m_bus;
};

class TestBackgroundPortal : public QObject
{
    Q_OBJECT

    tarvo::test::PrivateBus m_bus;

    // The portal's own connection to the private bus, under the desktop's name.
    std::unique_ptr<FakeBackgroundPortal> startPortal()
    {
        QDBusConnection bus =
            QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("portal"));
        auto portal = std::make_unique<FakeBackgroundPortal>(bus);
        if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), portal.get(),
                                QDBusConnection::ExportAllSlots) ||
            !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")))
            return nullptr;
        return portal;
    }
    static void stopPortal()
    {
        QDBusConnection bus(QStringLiteral("portal"));
        if (!bus.isConnected())
            return;
        bus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        bus.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
        QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
    }
    QDBusConnection client() const
    {
        return QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("client"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            QSKIP("dbus-daemon is not installed");
        QVERIFY(m_bus.start());
    }
    void cleanup() { stopPortal(); }
    void cleanupTestCase() { m_bus.stop(); }

    void requestPathFollowsTheCaller()
    {
        QCOMPARE(BackgroundPortal::RequestPath(QStringLiteral(":1.42"), QStringLiteral("t_1")),
                 QStringLiteral("/org/freedesktop/portal/desktop/request/1_42/t_1"));
    }

    void desktopAnswers_data()
    {
        QTest::addColumn<uint>("response");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<int>("state");
        QTest::newRow("allowed") << 0u << true << int(BackgroundPortal::State::Granted);
        QTest::newRow("not allowed") << 0u << false << int(BackgroundPortal::State::Refused);
        QTest::newRow("cancelled") << 1u << true << int(BackgroundPortal::State::Refused);
    }
    void desktopAnswers()
    {
        QFETCH(uint, response);
        QFETCH(bool, allowed);
        QFETCH(int, state);
        auto portal = startPortal();
        QVERIFY(portal);
        portal->response = response;
        portal->allowed = allowed;
        BackgroundPortal background(client());
        QSignalSpy changed(&background, &BackgroundPortal::stateChanged);
        background.request(QStringLiteral("keeps guarding"), QStringLiteral("x11:2a"));
        QCOMPARE(background.state(), BackgroundPortal::State::Waiting);
        QTRY_COMPARE(int(background.state()), state);
        QVERIFY(background.available());
        QCOMPARE(changed.size(), 2); // waiting, then the answer
        QCOMPARE(portal->parentWindow, QStringLiteral("x11:2a"));
        QCOMPARE(portal->options.value(QStringLiteral("reason")).toString(),
                 QStringLiteral("keeps guarding"));
        QCOMPARE(portal->options.value(QStringLiteral("autostart")), QVariant(false));
        // Asked once: a later request changes nothing.
        background.request(QStringLiteral("again"));
        QTest::qWait(200);
        QCOMPARE(portal->calls, 1);
        QCOMPARE(int(background.state()), state);
    }

    void noPortalIsUnavailable()
    {
        BackgroundPortal background(client());
        background.request(QStringLiteral("keeps guarding"));
        QTRY_COMPARE(background.state(), BackgroundPortal::State::Unavailable);
        QVERIFY(!background.available());
    }
};

TARVO_TEST_MAIN(TestBackgroundPortal)
#include "tst_backgroundportal.moc"
