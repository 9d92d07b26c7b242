// The tray icon's states, icons and menu, with the tray's availability
// injected (offscreen has no tray).

#include "common/TestMain.h"
#include "desktop/TrayIcon.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>

using State = TrayIcon::State;

class TestTrayIcon : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void iconsDifferAndScale_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<qreal>("dpr");
        QTest::newRow("16") << 16 << 1.0;
        QTest::newRow("22 at 2x") << 22 << 2.0;
        QTest::newRow("24 at 1.25x") << 24 << 1.25;
        QTest::newRow("64 at 3x") << 64 << 3.0;
    }
    void iconsDifferAndScale()
    {
        QFETCH(int, size);
        QFETCH(qreal, dpr);
        QList<QImage> images;
        for (State s : {State::Disarmed, State::Arming, State::Armed, State::Alarm}) {
            const QImage image = TrayIcon::Render(s, size, dpr);
            QCOMPARE(image.width(), qRound(size * dpr)); // drawn for the device pixels
            QCOMPARE(image.devicePixelRatio(), dpr);
            QVERIFY(qAlpha(image.pixel(image.width() / 2, image.height() / 2)) > 0);
            QVERIFY(qAlpha(image.pixel(0, 0)) == 0);
            for (const QImage &other : images)
                QVERIFY(image != other);
            images << image;
        }
        // The QIcon draws at the size asked for rather than scaling a bitmap.
        const QPixmap pixmap = TrayIcon::Icon(State::Alarm).pixmap(QSize(size, size), dpr);
        QCOMPARE(pixmap.width(), qRound(size * dpr));
        QCOMPARE(pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 TrayIcon::Render(State::Alarm, size, dpr));
    }

    void statesAndToolTips()
    {
        TrayIcon tray([] { return false; });
        QCOMPARE(tray.state(), State::Disarmed);
        QCOMPARE(tray.toolTip(), QStringLiteral("Tarvo2 - disarmed"));
        tray.setAlarm(true); // no alarm while disarmed
        QCOMPARE(tray.state(), State::Disarmed);
        tray.setArmState(State::Arming);
        QCOMPARE(tray.toolTip(), QStringLiteral("Tarvo2 - arming"));
        tray.setArmState(State::Armed);
        tray.setAlarm(true);
        QCOMPARE(tray.state(), State::Alarm);
        QCOMPARE(tray.toolTip(), QStringLiteral("Tarvo2 - ALARM"));
        tray.setAlarm(false); // the run ended
        QCOMPARE(tray.state(), State::Armed);
        tray.setAlarm(true);
        tray.setArmState(State::Disarmed); // disarming ends the alarm
        QCOMPARE(tray.state(), State::Disarmed);
        tray.setArmState(State::Armed);
        QCOMPARE(tray.state(), State::Armed);
        tray.show(); // no tray: nothing happens
    }

    void menuAsksForActions()
    {
        TrayIcon tray([] { return false; });
        QSignalSpy shown(&tray, &TrayIcon::showRequested);
        QSignalSpy toggled(&tray, &TrayIcon::toggleRequested);
        QSignalSpy exited(&tray, &TrayIcon::exitRequested);
        QStringList names;
        for (QAction *action : tray.menu()->actions())
            if (!action->isSeparator())
                names << action->objectName();
        QCOMPARE(names, (QStringList{QStringLiteral("trayShow"), QStringLiteral("trayToggle"),
                                     QStringLiteral("trayExit")}));
        QCOMPARE(tray.toggleAction()->text(), QStringLiteral("Arm"));
        tray.setArmState(State::Arming);
        QCOMPARE(tray.toggleAction()->text(), QStringLiteral("Disarm"));
        tray.toggleAction()->trigger();
        tray.showAction()->trigger();
        tray.exitAction()->trigger();
        QCOMPARE(toggled.size(), 1);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(exited.size(), 1);
        tray.setToggleEnabled(false);
        tray.toggleAction()->trigger();
        QCOMPARE(toggled.size(), 1);
    }
};

TARVO_TEST_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"
