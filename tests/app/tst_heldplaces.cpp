// What a person at the keyboard can reach in the real window (offscreen)
// while the alarm is armed with a PIN: the Options menu walked with its
// mnemonic and the arrow keys, every focusable control tried with the keys
// that change a value, the sound list's context menu and a drop of files;
// and a dialog left open before arming closes.

#include "common/TestMain.h"

#include "ArmableWindow.h"
#include "WindowTest.h"

#include "alarm/Autostart.h"
#include "guard/ReachServices.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QDialog>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QSet>
#include <QSlider>
#include <QSpinBox>
#include <QUrl>

namespace {
const QString Pin = QStringLiteral("2580");

QList<QDialog *> openDialogs(TfrmMain &w)
{
    QList<QDialog *> open;
    for (QDialog *dialog : w.findChildren<QDialog *>()) {
        if (dialog->isVisible())
            open.append(dialog);
    }
    return open;
}

// Opens the Options menu with its mnemonic, moves down to the item and
// presses Return there; false when the arrow keys never reach it.
bool chooseByKeyboard(TfrmMain &w, const QString &item)
{
    QString title;
    for (QAction *action : w.menuBar()->actions()) {
        if (action->menu() && action->menu()->objectName() == QLatin1String("mnuOptions"))
            title = action->text();
    }
    const qsizetype amp = title.indexOf(QLatin1Char('&'));
    if (amp < 0 || amp + 1 >= title.size())
        return false;
    QTest::keyClick(&w, title.at(amp + 1).toLatin1(), Qt::AltModifier);
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    if (!menu)
        return false;
    for (qsizetype i = 0; i <= menu->actions().size(); ++i) {
        if (menu->activeAction() && menu->activeAction()->objectName() == item) {
            QTest::keyClick(menu, Qt::Key_Return);
            return true;
        }
        QTest::keyClick(menu, Qt::Key_Down);
    }
    QTest::keyClick(menu, Qt::Key_Escape);
    return false;
}
} // namespace

class TestHeldPlaces : public tarvo::test::WindowTest
{
    Q_OBJECT

    std::unique_ptr<TfrmMain> armedWindow(bool pin, bool arm = true)
    {
        auto w = tarvo::test::makeArmableWindow(workingDirectory());
        if (!w)
            return nullptr;
        if (pin && !w->protection().setPin(Pin, 1000))
            return nullptr;
        if (arm)
            w->ActActivateToggle->trigger();
        w->activateWindow();
        if (!QTest::qWaitForWindowActive(w.get()))
            return nullptr;
        return w;
    }

private Q_SLOTS:
    void init() { startFresh(); }
    void cleanup() { RemoveAutostartEntry(); }

    void optionsByKeyboard_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<bool>("pin");
        QTest::addColumn<bool>("arm");
        QTest::addColumn<bool>("opens");
        QTest::newRow("alerts, armed with a PIN") << "mnuAlerts" << true << true << false;
        QTest::newRow("alerts, armed") << "mnuAlerts" << false << true << true;
        QTest::newRow("alerts, disarmed") << "mnuAlerts" << true << false << true;
        QTest::newRow("evidence, armed with a PIN") << "mnuEvidence" << true << true << false;
        QTest::newRow("evidence, armed") << "mnuEvidence" << false << true << true;
        QTest::newRow("calibration, armed") << "mnuCalibrateMicrophone" << false << true << false;
        QTest::newRow("calibration, disarmed") << "mnuCalibrateMicrophone" << true << false << true;
        QTest::newRow("protection, armed") << "mnuDisarmProtection" << false << true << false;
        QTest::newRow("reset, armed with a PIN")
            << "mnuResetSettingToDefault" << true << true << false;
        QTest::newRow("reset, armed") << "mnuResetSettingToDefault" << false << true << true;
    }
    void optionsByKeyboard()
    {
        QFETCH(QString, item);
        QFETCH(bool, pin);
        QFETCH(bool, arm);
        QFETCH(bool, opens);
        auto w = armedWindow(pin, arm);
        QVERIFY(w);
        w->trkAlarmVolume->setEnabled(true); // set by hand, as the owner had it
        w->trkAlarmVolume->setValue(17);
        w->KeyState();
        // A held item may be walked over; it must never act.
        const bool reached = chooseByKeyboard(*w, item);
        const bool reset = w->trkAlarmVolume->value() != 17;
        const bool opened = !openDialogs(*w).isEmpty() || reset;
        QCOMPARE(opened, opens);
        if (opens)
            QVERIFY(reached);
        for (QDialog *dialog : openDialogs(*w))
            dialog->reject();
    }

    void everyControlByKeyboard()
    {
        auto w = armedWindow(true);
        QVERIFY(w);
        const QString before =
            ReadRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMaintrkAlarmVolume"));
        const int volume = w->trkAlarmVolume->value();
        const int delay = w->spnTriggerDelay->value();
        // Around the whole focus chain: each control gets the keys that change
        // a value, open a menu or remove an entry. What is held never takes
        // the focus, so no key reaches it.
        QSet<QWidget *> visited;
        for (int i = 0; i < 80; ++i) {
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : w.get(),
                            Qt::Key_Tab);
            QWidget *focus = QApplication::focusWidget();
            if (!focus || focus->window() != w.get())
                continue;
            visited.insert(focus);
            for (Qt::Key key : {Qt::Key_Up, Qt::Key_PageUp, Qt::Key_End, Qt::Key_Plus})
                QTest::keyClick(focus, key);
            QTest::keyClick(focus, Qt::Key_Menu);
            QTest::keyClick(focus, Qt::Key_Delete);
        }
        QCOMPARE(w->trkAlarmVolume->value(), volume);
        QCOMPARE(w->spnTriggerDelay->value(), delay);
        QCOMPARE(
            ReadRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMaintrkAlarmVolume")),
            before);
        QVERIFY(openDialogs(*w).isEmpty());
        QVERIFY(!QApplication::activePopupWidget());
        QCOMPARE(w->sounds().count(), 1);
        QCOMPARE(w->alarm().armState(), AlarmControl::ArmState::Armed);
        for (QWidget *held : {static_cast<QWidget *>(w->btnSysVolumeControl),
                              static_cast<QWidget *>(w->btnSysRecordingControl),
                              static_cast<QWidget *>(w->chklbSounds)})
            QVERIFY2(!visited.contains(held), qPrintable(held->objectName()));
        QVERIFY(visited.contains(w->btnExit)); // the walk went round
    }

    void soundListTakesNothing_data()
    {
        QTest::addColumn<bool>("arm");
        QTest::newRow("armed") << true;
        QTest::newRow("disarmed") << false;
    }
    void soundListTakesNothing()
    {
        QFETCH(bool, arm);
        auto w = armedWindow(true, arm);
        QVERIFY(w);
        QWidget *list = w->chklbSounds->viewport();
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(5, 5),
                               list->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(list, &menu);
        QCOMPARE(w->popAlarmSounds->isVisible(), !arm);
        w->popAlarmSounds->hide();

        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("b.wav")))});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list, &enter);
        QCOMPARE(enter.isAccepted(), !arm);
    }

    void armingClosesHeldDialogs_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<bool>("pin");
        QTest::addColumn<bool>("closes");
        QTest::newRow("alerts with a PIN") << "mnuAlerts" << true << true;
        QTest::newRow("alerts without") << "mnuAlerts" << false << false;
        QTest::newRow("evidence with a PIN") << "mnuEvidence" << true << true;
        QTest::newRow("protection") << "mnuDisarmProtection" << false << true;
    }
    void armingClosesHeldDialogs()
    {
        QFETCH(QString, item);
        QFETCH(bool, pin);
        QFETCH(bool, closes);
        auto w = armedWindow(pin, false);
        QVERIFY(w);
        QVERIFY(chooseByKeyboard(*w, item));
        QCOMPARE(openDialogs(*w).size(), 1);
        // From the tray, which a window-modal dialog does not block.
        w->reach()->tray.toggleAction()->trigger();
        QCOMPARE(w->alarm().armState(), AlarmControl::ArmState::Armed);
        QCOMPARE(openDialogs(*w).isEmpty(), closes);
        for (QDialog *dialog : openDialogs(*w))
            dialog->reject();
    }
};

TARVO_TEST_MAIN(TestHeldPlaces)
#include "tst_heldplaces.moc"
