// A program forced onto XWayland (the xcb platform with WAYLAND_DISPLAY
// set) cannot read the pointer outside its window and here finds no source
// of input activity either: the notice about it is shown without a modal
// loop, so a stored armed state is resumed all the same.

#include "common/TestMain.h"

#include "alarm/Autostart.h"
#include "app/fmMain.h"
#include "detect/ActivitySource.h"
#include "detect/XvfbServer.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QTemporaryDir>

namespace {
XvfbServer &Server()
{
    static XvfbServer server;
    return server;
}
const bool XServerUp = [] {
    if (!Server().start())
        return false;
    ::setenv("DISPLAY", Server().display().constData(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    // A Wayland session whose compositor this test does not have.
    ::setenv("WAYLAND_DISPLAY", "tarvo2-test-no-such-compositor", 1);
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    return true;
}();
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
        QVERIFY(!CreateActivitySource()->available());
    }

    void storedArmedStateResumesWhileTheNoticeShows()
    {
        QFile::remove(RegistryFilePath());
        RemoveAutostartEntry();
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath(QStringLiteral("Sounds")));
        QFile sound(dir.filePath(QStringLiteral("Sounds/alarm.wav")));
        QVERIFY(sound.open(QIODevice::WriteOnly));
        WriteRegString(StoreKeys::CheckedSounds, QStringLiteral("alarm.wav"), QStringLiteral("T"));
        WriteRegString(StoreKeys::Settings, QStringLiteral("ActMouDetectToggle"),
                       QStringLiteral("T"));
        WriteRegString(StoreKeys::Settings, StoreKeys::AlarmActive, QStringLiteral("T"));
        WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMainspnActivationDelay"),
                       QStringLiteral("0"));

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
};

TARVO_TEST_MAIN(TestXWaylandNotice)
#include "tst_xwaylandnotice.moc"
