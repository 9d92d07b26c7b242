// A program forced onto XWayland (the xcb platform with WAYLAND_DISPLAY
// set) cannot read the pointer outside its window. Without any source of
// input activity the notice about it is shown without a modal loop, so a
// stored armed state is resumed all the same; with the session's idle
// service (here a screen saver service on a private bus) mouse detection
// protects through it, and no notice is shown; the X server (XWayland's
// stand-in) names pointer input where it sees it.

#include "common/TestMain.h"

#include "alarm/Autostart.h"
#include "app/fmMain.h"
#include "common/PrivateBus.h"
#include "common/XvfbServer.h"
#include "detect/ActivitySource.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>

namespace {
const bool XServerUp = [] {
    if (!XvfbServer::startForProgram())
        return false;
    // A Wayland session whose compositor this test does not have.
    ::setenv("WAYLAND_DISPLAY", "tarvo2-test-no-such-compositor", 1);
    return true;
}();

// A private session bus, there before the application object (Qt's
// platform code looks at the bus once, at its start); no idle service on
// it until a test registers one.
tarvo::test::PrivateBus &Bus()
{
    static tarvo::test::PrivateBus bus;
    return bus;
}
const bool BusUp = [] {
    if (!Bus().start())
        return false;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", Bus().address().toUtf8().constData(), 1);
    ::setenv("TARVO2_TEST_OWN_SESSION_BUS", "1", 1);
    return true;
}();
class SaverService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    std::atomic<uint> idle{30};

public Q_SLOTS:
    uint GetSessionIdleTime() { return idle.load(); }
};

void prepareArmedStart(QTemporaryDir &dir)
{
    QFile::remove(RegistryFilePath());
    RemoveAutostartEntry();
    QDir().mkpath(dir.filePath(QStringLiteral("Sounds")));
    QFile sound(dir.filePath(QStringLiteral("Sounds/alarm.wav")));
    QVERIFY(sound.open(QIODevice::WriteOnly));
    WriteRegString(StoreKeys::CheckedSounds, QStringLiteral("alarm.wav"), QStringLiteral("T"));
    WriteRegString(StoreKeys::Settings, QStringLiteral("ActMouDetectToggle"), QStringLiteral("T"));
    WriteRegString(StoreKeys::Settings, StoreKeys::AlarmActive, QStringLiteral("T"));
    WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMainspnActivationDelay"),
                   QStringLiteral("0"));
}
} // namespace

class TestXWaylandNotice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!XServerUp || QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs Xvfb and Qt's xcb platform");
    }

    void sessionIsSeenAsWayland()
    {
        QVERIFY(IsWaylandSession());
        QVERIFY(!CanReadGlobalPointer());
        const std::unique_ptr<ActivitySource> idle = CreateActivitySource();
        QVERIFY(!idle->available());
        const std::unique_ptr<ActivitySource> hint = CreateActivityHint(*idle);
        QVERIFY(hint);
        QVERIFY(!CreateActivityHint(*hint)); // tells keys apart: needs none
    }

    void storedArmedStateResumesWhileTheNoticeShows()
    {
        QTemporaryDir dir;
        prepareArmedStart(dir);

        // No message sink: the notice is the real one.
        TfrmMain w(dir.path() + QLatin1Char('/'));
        QVERIFY(w.FormCreate());
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(
            w.report().lines().filter(QStringLiteral("] Alarm - Activated")).size() == 1, 15000);
        auto *notice = w.findChild<QMessageBox *>(QStringLiteral("noticeBox"));
        QVERIFY(notice);
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->windowModality(), Qt::NonModal);
        QVERIFY(notice->text().contains(QStringLiteral("Wayland")));
        QCOMPARE(w.alarm().armState(), AlarmControl::ArmState::Armed);
        // The pointer position seen here is only our own window's: it is
        // still sampled, as nothing better is there.
        QVERIFY(w.mouse().isRunning());
        notice->close();
    }

    void mouseDetectionUsesTheSessionsActivity()
    {
        if (!BusUp)
            QSKIP("dbus-daemon is not available");
        QDBusConnection service =
            QDBusConnection::connectToBus(Bus().address(), QStringLiteral("service"));
        auto *saver = new SaverService;
        QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), saver,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
        QThread thread; // answers while the window waits for its first reply
        saver->moveToThread(&thread);
        thread.start();
        const auto cleanup = qScopeGuard([&] {
            QMetaObject::invokeMethod(saver, &QObject::deleteLater);
            thread.quit();
            thread.wait();
            QDBusConnection::disconnectFromBus(QStringLiteral("service"));
        });

        QTemporaryDir dir;
        prepareArmedStart(dir);
        QStringList messages;
        TfrmMain w(dir.path() + QLatin1Char('/'));
        w.setMessageSink([&](TfrmMain::MessageKind, const QString &text) { messages << text; });
        QVERIFY(w.FormCreate());
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(
            w.report().lines().filter(QStringLiteral("] Alarm - Activated")).size() == 1, 15000);
        QVERIFY(w.activity().pointerOn());
        QVERIFY(!w.mouse().isRunning()); // the position would be only our window's
        QVERIFY(messages.isEmpty());     // it protects: nothing to tell

        saver->idle = 0; // someone at the machine
        QTRY_VERIFY_WITH_TIMEOUT(
            w.report().lines().filter(QStringLiteral("] Activity detected")).size() == 1, 15000);

        // The session keeps saying "active"; the X server tells a move.
        QStringList detected;
        connect(&w.activity(), &ActivityMonitor::pointerDetected, &w,
                [&detected](const QString &text) { detected << text; });
        QCOMPARE(XvfbServer::forProgram().run(QStringLiteral("xdotool"),
                                              {QStringLiteral("mousemove_relative"),
                                               QStringLiteral("30"), QStringLiteral("20")}),
                 0);
        QTRY_VERIFY_WITH_TIMEOUT(detected.contains(QStringLiteral("Mouse detected")), 15000);
    }
};

TARVO_TEST_MAIN(TestXWaylandNotice)
#include "tst_xwaylandnotice.moc"
