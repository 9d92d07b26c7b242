// The main window: enabling rules, toggle hints, the Escape rule and the
// resettable settings, on a real window with its real subsystems (offscreen,
// SDL's dummy audio driver, a temporary home).

#include "common/TestMain.h"

#include "WindowTest.h"
#include "app/LedShape.h"
#include "info/Links.h"
#include "settings/StoreKeys.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QUrl>

using S = AlarmControl::Switch;

class TestMainWindow : public tarvo::test::WindowTest
{
    Q_OBJECT

private:
    void addSoundFile(const QString &name)
    {
        QDir().mkpath(workingDirectory() + QStringLiteral("Sounds"));
        QFile file(workingDirectory() + QStringLiteral("Sounds/") + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    static QString stored(const QString &control)
    {
        return ReadRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMain") + control);
    }

private Q_SLOTS:
    void init() { startFresh(); }

    void keyStateTable_data()
    {
        QTest::addColumn<bool>("armed");    // A
        QTest::addColumn<bool>("detector"); // D
        QTest::addColumn<bool>("checked");  // K
        QTest::addColumn<int>("entries");   // N (S follows: the first entry is selected)
        QTest::newRow("nothing") << false << false << false << 0;
        QTest::newRow("sounds, no detector") << false << false << true << 2;
        QTest::newRow("detector, nothing checked") << false << true << false << 2;
        QTest::newRow("detector and checked") << false << true << true << 2;
        QTest::newRow("detector, empty list") << false << true << false << 0;
        QTest::newRow("armed, ready") << true << true << true << 2;
        QTest::newRow("armed, no detector") << true << false << true << 1;
        QTest::newRow("armed, empty list") << true << true << false << 0;
    }

    void keyStateTable()
    {
        QFETCH(bool, armed);
        QFETCH(bool, detector);
        QFETCH(bool, checked);
        QFETCH(int, entries);
        for (int i = 0; i < entries; ++i)
            addSoundFile(QStringLiteral("sound%1.wav").arg(i));
        if (checked && entries > 0)
            WriteRegString(StoreKeys::CheckedSounds, QStringLiteral("sound0.wav"),
                           QStringLiteral("T"));
        if (detector)
            WriteRegString(StoreKeys::Settings, QStringLiteral("ActSimToggle"),
                           QStringLiteral("T"));
        if (armed)
            WriteRegString(StoreKeys::Settings, StoreKeys::AlarmActive, QStringLiteral("T"));

        auto w = makeWindow();
        QVERIFY(w);
        const bool k = checked && entries > 0;
        const bool n = entries > 0;
        const bool s = n; // the first entry is selected after filling
        QCOMPARE(w->ActMicDetectToggle->isEnabled(), !armed);
        QCOMPARE(w->ActMouDetectToggle->isEnabled(), !armed);
        QCOMPARE(w->ActSimToggle->isEnabled(), !armed);
        QCOMPARE(w->ActViewReport->isEnabled(), !armed);
        QCOMPARE(w->ActActivateToggle->isEnabled(), detector && k);
        QCOMPARE(w->btnActivate->isEnabled(), detector && k);
        QCOMPARE(w->chklbSounds->isEnabled(), !armed);
        QCOMPARE(w->ActChkLbAlarmSndChecktAll->isEnabled(), n);
        QCOMPARE(w->ActChkLbAlarmSndUnCheckAll->isEnabled(), n);
        QCOMPARE(w->ActChkLbAlarmSndCheckInverse->isEnabled(), n);
        QCOMPARE(w->ActAddSound->isEnabled(), !armed);
        QCOMPARE(w->ActRemoveSound->isEnabled(), !armed && n && s);
        QCOMPARE(w->btnFrontLeft->isEnabled(), !armed && n && s);
        QCOMPARE(w->btnFrontCenter->isEnabled(), !armed && n && s);
        QCOMPARE(w->btnFrontRight->isEnabled(), !armed && n && s);
        QCOMPARE(w->btnTestStop->isEnabled(), !armed);
        // Never touched by the rules.
        QVERIFY(w->btnExit->isEnabled());
        QVERIFY(w->trkAlarmVolume->isEnabled());
        QVERIFY(w->spnActivationDelay->isEnabled());
        // The armed state from the store shows before the first activation.
        QCOMPARE(w->ActActivateToggle->toolTip(),
                 armed ? QStringLiteral("Stop Alarm") : QStringLiteral("Activate Alarm"));
        QCOMPARE(w->alarm().isWaitingForActivation(), false);
    }

    void uncheckingLastSoundDisablesActivate()
    {
        addSoundFile(QStringLiteral("a.wav"));
        WriteRegString(StoreKeys::CheckedSounds, QStringLiteral("a.wav"), QStringLiteral("T"));
        auto w = makeWindow();
        QVERIFY(w);
        w->ActMouDetectToggle->trigger();
        QVERIFY(w->ActActivateToggle->isEnabled());
        w->ActChkLbAlarmSndUnCheckAll->trigger();
        QVERIFY(!w->ActActivateToggle->isEnabled());
        w->ActMouDetectToggle->trigger();
    }

    void toggleHints()
    {
        auto w = makeWindow();
        QVERIFY(w);
        QCOMPARE(w->ActMicDetectToggle->toolTip(), QStringLiteral("Use Microphone Detection"));
        QCOMPARE(w->ActMouDetectToggle->toolTip(), QStringLiteral("Use Mouse Detection"));
        QCOMPARE(w->ActSimToggle->toolTip(), QStringLiteral("Use Alarm Simulation"));
        QCOMPARE(w->ActActivateToggle->toolTip(), QStringLiteral("Activate Alarm"));

        w->ActMouDetectToggle->trigger();
        w->ActSimToggle->trigger();
        QCOMPARE(w->ActMouDetectToggle->toolTip(), QStringLiteral("Disable Mouse Detection"));
        QCOMPARE(w->ActSimToggle->toolTip(), QStringLiteral("Disable Alarm Simulation"));
        QCOMPARE(ReadRegString(StoreKeys::Settings, QStringLiteral("ActSimToggle")),
                 QStringLiteral("T"));
        QVERIFY(w->alarm().TimSimulation.isActive());

        w->ActSimToggle->trigger();
        QCOMPARE(w->ActSimToggle->toolTip(), QStringLiteral("Use Alarm Simulation"));
        QCOMPARE(ReadRegString(StoreKeys::Settings, QStringLiteral("ActSimToggle")), QString());
        QVERIFY(!w->alarm().TimSimulation.isActive());
        w->ActMouDetectToggle->trigger();
        QVERIFY(!w->mouse().TimDetectMouse.isActive());
    }

    void escapeRule()
    {
        addSoundFile(QStringLiteral("a.wav"));
        WriteRegString(StoreKeys::CheckedSounds, QStringLiteral("a.wav"), QStringLiteral("T"));
        auto w = makeWindow();
        QVERIFY(w);
        w->show();

        // Switch off: Escape does nothing at all.
        QTest::keyRelease(w->trkAlarmVolume, Qt::Key_Escape);
        QCOMPARE(w->report().count(), 0);

        w->ActSimToggle->trigger();
        w->ActActivateToggle->trigger(); // activation delay 10 s: waiting
        QVERIFY(w->alarm().isWaitingForActivation());
        QVERIFY(!w->ActSimToggle->isEnabled());
        QCOMPARE(w->ActActivateToggle->toolTip(), QStringLiteral("Stop Alarm"));
        QVERIFY(AutostartEntryExists());

        // Escape from whatever control has the focus disarms, also during the delay.
        w->spnTriggerDelay->setFocus();
        QTest::keyRelease(w->spnTriggerDelay, Qt::Key_Escape);
        QVERIFY(!w->alarm().isOn(S::Alarm));
        QVERIFY(!w->alarm().isWaitingForActivation());
        QVERIFY(w->report().lines().last().endsWith(QStringLiteral("] Alarm - Stoped")));
        QCOMPARE(w->ActActivateToggle->toolTip(), QStringLiteral("Activate Alarm"));
        QVERIFY(w->ActSimToggle->isEnabled());
        QVERIFY(!w->shpLedActivationDelay->isLit());
        QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::AlarmActive), QString());
        QVERIFY(!AutostartEntryExists());
        // Only one disarm per key release.
        QCOMPARE(w->report().lines().filter(QStringLiteral("Alarm - Stoped")).size(), 1);
    }

    void sliderWritesAndHint()
    {
        auto w = makeWindow();
        QVERIFY(w);
        QVERIFY(w->trkGlobalAlteration->toolTip().isEmpty());
        w->trkGlobalAlteration->setValue(-35);
        QCOMPARE(stored(QStringLiteral("trkGlobalAlteration")), QStringLiteral("-35"));
        QCOMPARE(w->trkGlobalAlteration->toolTip(), QStringLiteral("-35"));
    }

    void typingWritesEveryChange()
    {
        auto w = makeWindow();
        QVERIFY(w);
        w->show();
        QSpinBox *spin = w->spnActivationDelay;
        spin->setFocus();
        spin->selectAll();
        QStringList writes;
        for (const char key : QByteArray("120")) {
            QTest::keyClick(spin, key);
            writes << stored(QStringLiteral("spnActivationDelay"));
        }
        QCOMPARE(writes,
                 (QStringList{QStringLiteral("1"), QStringLiteral("12"), QStringLiteral("120")}));
        QCOMPARE(spin->value(), 120);
    }

    void storedValuesAreClampedAndGarbageIgnored()
    {
        WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMaintrkAlarmVolume"),
                       QStringLiteral("250"));
        WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMainspnSimulateEvery"),
                       QStringLiteral("-7"));
        WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMaintrkPersistence"),
                       QStringLiteral("loud"));
        WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMaintrkMouseSensivity"),
                       QStringLiteral("99999999999999999999"));
        WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMainspnTriggerDelay"),
                       QString());
        WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMaintrkRandomAlteration"),
                       QStringLiteral("30"));
        auto w = makeWindow();
        QVERIFY(w);
        QCOMPARE(w->trkAlarmVolume->value(), 100);
        QCOMPARE(stored(QStringLiteral("trkAlarmVolume")), QStringLiteral("100"));
        QCOMPARE(w->spnSimulateEvery->value(), 5);
        QCOMPARE(w->trkPersistence->value(), 50);
        QCOMPARE(stored(QStringLiteral("trkPersistence")), QStringLiteral("loud"));
        QCOMPARE(w->trkMouseSensivity->value(), 100);
        QCOMPARE(w->spnTriggerDelay->value(), 0);
        QCOMPARE(w->trkRandomAlteration->value(), 30);
        QCOMPARE(w->trkRandomAlteration->toolTip(), QStringLiteral("30"));
        // A value equal to the default, or none, shows no hint until moved.
        QVERIFY(w->trkMicTriggerVolume->toolTip().isEmpty());
    }

    void resetWritesOnlyWhatChanged()
    {
        addSoundFile(QStringLiteral("a.wav"));
        WriteRegString(StoreKeys::CheckedSounds, QStringLiteral("a.wav"), QStringLiteral("T"));
        auto w = makeWindow();
        QVERIFY(w);
        w->mnuResetSettingToDefaultClick();
        QStringList names;
        ReadRegValueNames(StoreKeys::ResetableSettings, names);
        QVERIFY2(names.isEmpty(), qPrintable(names.join(QLatin1Char(','))));

        w->ActMouDetectToggle->trigger();
        w->trkAlarmVolume->setValue(80);
        w->mnuResetSettingToDefaultClick();
        ReadRegValueNames(StoreKeys::ResetableSettings, names);
        QCOMPARE(names, QStringList{QStringLiteral("frmMaintrkAlarmVolume")});
        QCOMPARE(stored(QStringLiteral("trkAlarmVolume")), QStringLiteral("50"));
        QCOMPARE(w->trkAlarmVolume->value(), 50);
        // Switches and check marks stay.
        QCOMPARE(ReadRegString(StoreKeys::Settings, QStringLiteral("ActMouDetectToggle")),
                 QStringLiteral("T"));
        QCOMPARE(w->checkedSounds(), QStringList{QStringLiteral("a.wav")});
        w->ActMouDetectToggle->trigger();
    }

    void resetLeavesTheInputLevel()
    {
        auto w = makeWindow();
        QVERIFY(w);
        w->trkMicSensivity->setValue(40); // as a calibration sets it
        w->trkAlarmVolume->setValue(80);
        w->mnuResetSettingToDefaultClick();
        QCOMPARE(w->trkAlarmVolume->value(), 50);
        QCOMPARE(w->trkMicSensivity->value(), 40);
        QStringList names;
        ReadRegValueNames(StoreKeys::ResetableSettings, names);
        names.sort();
        QCOMPARE(names, (QStringList{QStringLiteral("frmMaintrkAlarmVolume"),
                                     QStringLiteral("frmMaintrkMicSensivity")}));
        QCOMPARE(stored(QStringLiteral("trkMicSensivity")), QStringLiteral("40"));
        // The next start reads it back.
        w.reset();
        auto again = makeWindow();
        QVERIFY(again);
        QCOMPARE(again->trkMicSensivity->value(), 40);
    }

    void failedWriteShowsErrorAndKeepsValue()
    {
        auto w = makeWindow();
        QVERIFY(w);
        // A folder where the store file should be: every write fails, for root too.
        const QString path = RegistryFilePath();
        QFile::remove(path);
        QVERIFY(QDir().mkpath(path));
        w->trkAlarmVolume->setValue(70);
        QDir(path).removeRecursively();
        QCOMPARE(w->trkAlarmVolume->value(), 70);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages.first().contains(QStringLiteral("frmMaintrkAlarmVolume")),
                 qPrintable(m_messages.first()));
    }

    void layoutBasics()
    {
        auto w = makeWindow();
        QVERIFY(w);
        QCOMPARE(w->centralWidget()->size(), QSize(537, 594));
        QCOMPARE(w->windowTitle(), QStringLiteral("Tarvo2"));
        QCOMPARE(w->shpLedMicDetection->size(), QSize(11, 11));
        QCOMPARE(w->shpLedMicDetection->color(), QColor(0, 95, 140));
        QCOMPARE(w->btnActivate->size(), QSize(42, 42));
        QCOMPARE(w->chklbSounds->size(), QSize(260, 180));
        QVERIFY(w->Panel1->isHidden());
        QVERIFY(w->Button3->isHidden());
        QCOMPARE(w->spnSimulateEvery->minimum(), 5);
        QCOMPARE(w->spnSimulateEvery->maximum(), 1440);
        QCOMPARE(w->trkGlobalAlteration->minimum(), -100);
        QStringList popup;
        for (QAction *action : w->popAlarmSounds->actions())
            popup << (action->isSeparator() ? QStringLiteral("-") : action->text());
        QCOMPARE(popup,
                 (QStringList{QStringLiteral("Add Sound"), QStringLiteral("Remove Sound"),
                              QStringLiteral("-"), QStringLiteral("Check All"),
                              QStringLiteral("Check Inverse"), QStringLiteral("UnCheck All")}));
    }

    void webLinksOpenTheirPagesOnce()
    {
        QStringList opened;
        SetUrlOpener([&](const QUrl &url) {
            opened << url.toString();
            return true;
        });
        auto w = makeWindow();
        QVERIFY(w);
        QTest::mouseClick(w->Image1, Qt::LeftButton);
        for (const char *item :
             {"Programhelp1", "FAQ1", "Homepage1", "Checkforupdate1", "MoreVEKORproducts1"})
            w->findChild<QAction *>(QString::fromLatin1(item))->trigger();
        SetUrlOpener({});
        const QString site = MakerSite;
        QCOMPARE(opened,
                 (QStringList{
                     site + QStringLiteral("tarvo2.php"), site + QStringLiteral("tarvo2.php#help"),
                     site + QStringLiteral("tarvo2.php#faq"), site + QStringLiteral("tarvo2.php"),
                     site + QStringLiteral("tarvo2.php"), site + QStringLiteral("products.php")}));
    }

    void closingWhileArmedKeepsTheArmedState()
    {
        addSoundFile(QStringLiteral("a.wav"));
        WriteRegString(StoreKeys::CheckedSounds, QStringLiteral("a.wav"), QStringLiteral("T"));
        {
            auto w = makeWindow();
            QVERIFY(w);
            w->spnActivationDelay->setValue(0);
            w->ActSimToggle->trigger();
            w->ActActivateToggle->trigger();
            QVERIFY(w->alarm().isArmed());
            w->ExitProgram();
        }
        QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::AlarmActive), QStringLiteral("T"));
        QVERIFY(AutostartEntryExists());

        auto w = makeWindow();
        QVERIFY(w);
        QVERIFY(w->alarm().isOn(S::Alarm));
        QVERIFY(!w->ActSimToggle->isEnabled());
        QCOMPARE(w->ActActivateToggle->toolTip(), QStringLiteral("Stop Alarm"));
        QVERIFY(!w->alarm().TimSimulation.isActive()); // detectors start at activation
        // This session has no sound server and no logind: their notes aside.
        const auto withoutServiceNotes = [](QStringList lines) {
            lines.removeIf([](const QString &line) {
                return line.endsWith(QStringLiteral("] Volume guard not available")) ||
                       line.endsWith(QStringLiteral("] Suspend cannot be prevented"));
            });
            return lines;
        };
        const int linesBefore = int(withoutServiceNotes(w->report().lines()).size());
        QVERIFY(linesBefore > 0);
        w->FormActivate(); // resumes through the (now 0 s) activation delay
        QVERIFY(w->alarm().isArmed());
        QVERIFY(w->alarm().TimSimulation.isActive());
        // The loaded report is kept: the resumed arming adds its lines after it.
        const QStringList lines = withoutServiceNotes(w->report().lines());
        QCOMPARE(lines.size(), linesBefore + 2);
        QVERIFY(lines.last().endsWith(QStringLiteral("] Alarm - Activated")));
        w->FormActivate(); // later activations do nothing
        QVERIFY(w->alarm().isArmed());
        QVERIFY(!w->report()
                     .lines()
                     .join(QLatin1Char('\n'))
                     .contains(QStringLiteral("Alarm - Stoped")));
        QTest::keyRelease(w.get(), Qt::Key_Escape);
        QVERIFY(!AutostartEntryExists());
    }
};

TARVO_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
