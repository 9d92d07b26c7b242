// The disarm protection on the real window: the PIN asked before Escape, the
// alarm button and Exit; the wrong PIN's report and alarm; the right PIN
// going on with the step; hiding instead of ending; the options window; and
// the window unchanged while both options are off.

#include "common/TestMain.h"

#include "ArmableWindow.h"

#include "alarm/Autostart.h"
#include "app/fmMain.h"
#include "guard/ReachServices.h"
#include "app/fmProtection.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

using ArmState = AlarmControl::ArmState;

namespace {
const QString Pin = QStringLiteral("2580");
constexpr int QuickIterations = 1000;
} // namespace

class TestProtection : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;

    std::unique_ptr<TfrmMain> makeWindow()
    {
        return tarvo::test::makeArmableWindow(m_dir->path() + QLatin1Char('/'));
    }
    static void arm(TfrmMain &w)
    {
        w.ActActivateToggle->trigger();
        QCOMPARE(w.alarm().armState(), ArmState::Armed);
    }
    static TfrmPinAsk *pinAsk(TfrmMain &w)
    {
        for (auto *dialog : w.findChildren<TfrmPinAsk *>()) {
            if (dialog->isVisible())
                return dialog;
        }
        return nullptr;
    }
    static void answer(TfrmPinAsk *dialog, const QString &pin)
    {
        QTest::keyClicks(dialog->edtPin, pin);
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    }
    static bool settingsEnabled(TfrmMain &w)
    {
        return w.trkAlarmVolume->isEnabled() && w.spnTriggerDelay->isEnabled() &&
               w.cmbRecSource->isEnabled() && w.mnuResetSettingToDefault->isEnabled();
    }
    // Runs the step inside the application's event loop, where closing the
    // last window ends the program; tells whether it did.
    static bool endsTheProgram(const std::function<void()> &step)
    {
        QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
        QTimer::singleShot(0, qApp, step);
        QTimer::singleShot(1500, qApp, &QCoreApplication::quit);
        QApplication::exec();
        return lastClosed.count() > 0;
    }
    static QString lastLine(TfrmMain &w)
    {
        const QStringList lines = w.report().lines();
        return lines.isEmpty() ? QString() : lines.last();
    }

private Q_SLOTS:
    void initTestCase()
    {
        // No test here may reach a real desktop session and lock it.
        const QByteArray nowhere = "unix:path=" + QFile::encodeName(QDir::tempPath()) +
                                   "/tarvo2-no-bus-" +
                                   QByteArray::number(QCoreApplication::applicationPid());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", nowhere);
        qputenv("DBUS_SESSION_BUS_ADDRESS", nowhere);
    }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QFile::remove(RegistryFilePath());
        RemoveAutostartEntry();
        QGuiApplication::setQuitOnLastWindowClosed(true);
    }
    void cleanup() { RemoveAutostartEntry(); }

    void bothOffKeepsTheOldWays()
    {
        auto w = makeWindow();
        QVERIFY(w);
        arm(*w);
        QVERIFY(settingsEnabled(*w));
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QCOMPARE(w->alarm().armState(), ArmState::Disarmed);
        QVERIFY(!pinAsk(*w));
        arm(*w);
        QVERIFY(endsTheProgram([&w] { w->btnExit->click(); }));
        QVERIFY(!w->isVisible());
        QVERIFY(!w->alarm().TimTask.isActive());    // the window's end ran
        QVERIFY(AlarmControl::StoredAlarmActive()); // closing does not disarm
    }

    void pinGuardsEveryWayOut_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("Escape") << "escape";
        QTest::newRow("alarm button") << "button";
        QTest::newRow("Exit menu") << "exitMenu";
        QTest::newRow("Exit button") << "exitButton";
        QTest::newRow("tray Exit") << "trayExit";
    }

    void pinGuardsEveryWayOut()
    {
        QFETCH(QString, way);
        auto w = makeWindow();
        QVERIFY(w);
        QVERIFY(w->protection().setPin(Pin, QuickIterations));
        arm(*w);
        QVERIFY(!settingsEnabled(*w));
        const bool quits = way != QStringLiteral("escape") && way != QStringLiteral("button");
        if (way == QStringLiteral("escape"))
            QTest::keyClick(w.get(), Qt::Key_Escape);
        else if (way == QStringLiteral("button"))
            w->btnActivate->click();
        else if (way == QStringLiteral("exitMenu"))
            w->Exit2->trigger();
        else if (way == QStringLiteral("exitButton"))
            w->btnExit->click();
        else
            w->reach()->tray.exitAction()->trigger();
        // Refused for now: still armed, still running, the question is open.
        QCOMPARE(w->alarm().armState(), ArmState::Armed);
        QVERIFY(w->isVisible());
        QVERIFY(w->alarm().TimTask.isActive());
        TfrmPinAsk *dialog = pinAsk(*w);
        QVERIFY(dialog);
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);

        answer(dialog, Pin);
        QTRY_VERIFY(!pinAsk(*w));
        if (quits) {
            QVERIFY(!w->isVisible());
            QVERIFY(!w->alarm().TimTask.isActive());
            QVERIFY(AlarmControl::StoredAlarmActive());
        } else {
            QCOMPARE(w->alarm().armState(), ArmState::Disarmed);
            QVERIFY(lastLine(*w).endsWith(QStringLiteral("] Alarm - Stoped")));
            QVERIFY(settingsEnabled(*w));
            // One right PIN grants one step: armed again, it is asked again.
            arm(*w);
            QTest::keyClick(w.get(), Qt::Key_Escape);
            QVERIFY(pinAsk(*w));
        }
    }

    void closeBoxHidesWithoutAskingThePin()
    {
        auto w = makeWindow();
        QVERIFY(w);
        QVERIFY(w->protection().setPin(Pin, QuickIterations));
        w->reach()->tray.setAvailability([] { return true; }); // hidden, not minimised
        arm(*w);
        // Hiding takes nothing from the guard, so there is nothing to ask.
        QVERIFY(!endsTheProgram([&w] { QVERIFY(!w->close()); }));
        QVERIFY(!w->isVisible());
        QVERIFY(!pinAsk(*w));
        QCOMPARE(w->alarm().armState(), ArmState::Armed);
        QVERIFY(w->alarm().TimTask.isActive());
        // Exit from the hidden program shows the window with the question.
        w->Exit2->trigger();
        QVERIFY(w->isVisible());
        TfrmPinAsk *dialog = pinAsk(*w);
        QVERIFY(dialog);
        answer(dialog, Pin);
        QTRY_VERIFY(!w->isVisible());
        QVERIFY(!w->alarm().TimTask.isActive());
        QVERIFY(AlarmControl::StoredAlarmActive());
    }

    void thirdWrongPinRaisesTheAlarm()
    {
        auto w = makeWindow();
        QVERIFY(w);
        QVERIFY(w->protection().setPin(Pin, QuickIterations));
        w->spnTriggerDelay->setValue(30); // keeps the raised alarm from playing here
        arm(*w);
        QSignalSpy raised(&w->alarm(), &AlarmControl::alarmRaised);
        QTest::keyClick(w.get(), Qt::Key_Escape);
        TfrmPinAsk *dialog = pinAsk(*w);
        QVERIFY(dialog);
        for (const char *wrong : {"1111", "2222"}) {
            answer(dialog, QString::fromLatin1(wrong));
            QCOMPARE(dialog->lblPinRefusal->text(), QStringLiteral("Wrong PIN"));
            QVERIFY(dialog->edtPin->text().isEmpty());
            QVERIFY(lastLine(*w).endsWith(QStringLiteral("] Wrong PIN")));
        }
        QCOMPARE(raised.count(), 0);
        answer(dialog, QStringLiteral("3333"));
        QCOMPARE(raised.count(), 1);
        QCOMPARE(raised.first().first().toString(), QStringLiteral("Wrong PIN"));
        QVERIFY(w->alarm().TimTriggerDelay.isActive());
        QCOMPARE(w->alarm().armState(), ArmState::Armed);
        // The owner can still end it with the right PIN.
        QCOMPARE(pinAsk(*w), dialog);
        answer(dialog, Pin);
        QCOMPARE(w->alarm().armState(), ArmState::Disarmed);
        QVERIFY(!w->alarm().TimTriggerDelay.isActive());
    }

    void alarmRulesRunWhileAsking()
    {
        auto w = makeWindow();
        QVERIFY(w);
        QVERIFY(w->protection().setPin(Pin, QuickIterations));
        arm(*w);
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QVERIFY(pinAsk(*w));
        // A trigger while the question waits is taken and its run played
        // off by the task timer (the empty sound file plays nothing).
        QSignalSpy raised(&w->alarm(), &AlarmControl::alarmRaised);
        w->alarm().TimSimulationTimer();
        QCOMPARE(raised.count(), 1);
        QVERIFY(!w->alarm().tasks().isEmpty());
        QTRY_VERIFY(w->alarm().tasks().isEmpty());
        QVERIFY(pinAsk(*w));
        QCOMPARE(w->alarm().armState(), ArmState::Armed);
    }

    void cancelledQuestionChangesNothing()
    {
        auto w = makeWindow();
        QVERIFY(w);
        QVERIFY(w->protection().setPin(Pin, QuickIterations));
        arm(*w);
        QTest::keyClick(w.get(), Qt::Key_Escape);
        TfrmPinAsk *dialog = pinAsk(*w);
        QVERIFY(dialog);
        // Escape in the question only cancels it; it is not asked again.
        QTest::keyClick(dialog->edtPin, Qt::Key_Escape);
        QTRY_VERIFY(!pinAsk(*w));
        QCOMPARE(w->alarm().armState(), ArmState::Armed);
        QCOMPARE(w->protection().wrongTries(), 0);
    }

    void lockOnlyHidesInsteadOfEnding()
    {
        auto w = makeWindow();
        QVERIFY(w);
        w->protection().setLockEnabled(true);
        QSignalSpy failed(&w->sessionLock(), &SessionLock::lockFailed);
        arm(*w);
        // There is no bus here: the lock is reported as failed, armed all the same.
        QTRY_COMPARE(failed.count(), 1);
        QVERIFY(w->report()
                    .lines()
                    .join(QLatin1Char('\n'))
                    .contains(QStringLiteral("] Screen could not be locked")));
        QCOMPARE(w->alarm().armState(), ArmState::Armed);

        QVERIFY(!endsTheProgram([&w] { w->Exit2->trigger(); }));
        QVERIFY(!w->isVisible());
        QVERIFY(w->alarm().TimTask.isActive());
        QVERIFY(!pinAsk(*w));
        w->RestoreFromMessage(QByteArray());
        QVERIFY(w->isVisible());
        // Disarmed, closing ends the program again.
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QCOMPARE(w->alarm().armState(), ArmState::Disarmed);
        QVERIFY(w->close());
        QVERIFY(!w->alarm().TimTask.isActive());
    }

    void optionsWindowSetsThePin()
    {
        auto w = makeWindow();
        QVERIFY(w);
        auto *options = w->menuBar()->findChild<QMenu *>(QStringLiteral("mnuOptions"));
        QVERIFY(options);
        const QList<QAction *> actions = options->actions();
        int item = -1, separator = -1;
        for (int i = 0; i < actions.size(); ++i) {
            if (actions[i]->objectName() == QStringLiteral("mnuDisarmProtection"))
                item = i;
            if (actions[i]->objectName() == QStringLiteral("N5"))
                separator = i;
        }
        QVERIFY(item >= 0);
        QVERIFY(item < separator);
        QAction *open = actions[item];
        QCOMPARE(open->text().remove(QLatin1Char('&')), QStringLiteral("Disarm protection…"));

        open->trigger();
        auto *dialog = w->findChild<TfrmProtection *>();
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(!dialog->edtCurrentPin->isEnabled());
        dialog->chkLockScreen->setChecked(true);
        dialog->chkAskPin->setChecked(true);
        QTest::keyClicks(dialog->edtNewPin, QStringLiteral("9081ab7263"));
        QCOMPARE(dialog->edtNewPin->text(), QStringLiteral("90817263")); // digits only
        QTest::keyClicks(dialog->edtRepeatPin, QStringLiteral("90817264"));
        dialog->accept();
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->lblProtectionRefusal->text(),
                 QStringLiteral("The two PINs are not the same."));
        QVERIFY(!w->protection().pinEnabled());
        dialog->edtRepeatPin->setText(QStringLiteral("90817263"));
        dialog->accept();
        QVERIFY(!dialog->isVisible());
        QVERIFY(w->protection().pinEnabled());
        QVERIFY(w->protection().lockEnabled());
        QFile store(RegistryFilePath());
        QVERIFY(store.open(QIODevice::ReadOnly));
        QVERIFY(!store.readAll().contains("90817263"));

        // Armed, the options stay shut.
        arm(*w);
        QVERIFY(!open->isEnabled());
    }
};

TARVO_TEST_MAIN(TestProtection)
#include "tst_protection.moc"
