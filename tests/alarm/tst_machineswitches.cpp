// The lid and power cable switches, whose default follows the machine: the
// store keeps "off" apart from "never set", the machine's answer counts
// only while the user has not chosen, and arming names them when on.

#include "alarm/AlarmControl.h"
#include "alarm/Autostart.h"
#include "common/TestMain.h"
#include "report/ReportLog.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QTemporaryDir>

using S = AlarmControl::Switch;
Q_DECLARE_METATYPE(AlarmControl::Switch)

class TestMachineSwitches : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    std::unique_ptr<AlarmControl> makeAlarm(ReportLog &report)
    {
        AlarmControl::Hooks hooks;
        hooks.checkedSounds = [] { return QStringList{QStringLiteral("a.wav")}; };
        hooks.executablePath = QStringLiteral("/opt/tarvo2");
        return std::make_unique<AlarmControl>(report, std::move(hooks));
    }

private Q_SLOTS:
    void init()
    {
        DeleteRegKey(StoreKeys::Settings);
        RemoveAutostartEntry();
    }
    void cleanup() { RemoveAutostartEntry(); }

    void storedAndDefaulted_data()
    {
        QTest::addColumn<AlarmControl::Switch>("which");
        QTest::addColumn<QString>("stored"); // empty: never set
        QTest::addColumn<bool>("machineHasIt");
        QTest::addColumn<bool>("on");
        for (const auto &[name, which] :
             {std::pair{"lid", S::Lid}, std::pair{"cable", S::PowerCable}}) {
            QTest::addRow("%s never set, present", name) << which << "" << true << true;
            QTest::addRow("%s never set, absent", name) << which << "" << false << false;
            QTest::addRow("%s off, present", name) << which << "F" << true << false;
            QTest::addRow("%s on, absent", name) << which << "T" << false << true;
            QTest::addRow("%s other data, absent", name) << which << "yes" << false << true;
        }
    }
    void storedAndDefaulted()
    {
        QFETCH(AlarmControl::Switch, which);
        QFETCH(QString, stored);
        QFETCH(bool, machineHasIt);
        QFETCH(bool, on);
        if (!stored.isEmpty())
            WriteRegString(StoreKeys::Settings, AlarmControl::storeName(which), stored);
        ReportLog report(m_dir.path() + QStringLiteral("/Reports/"));
        auto alarm = makeAlarm(report);
        alarm->ReadStoredSwitches();
        QCOMPARE(alarm->isOn(which), !stored.isEmpty() && stored != QLatin1String("F"));
        alarm->ApplyMachineDefault(which, machineHasIt);
        QCOMPARE(alarm->isOn(which), on);
        // The machine's answer is never written: a later machine may differ.
        QCOMPARE(ReadRegString(StoreKeys::Settings, AlarmControl::storeName(which)), stored);
    }

    void userChoiceStored_data()
    {
        QTest::addColumn<AlarmControl::Switch>("which");
        QTest::addColumn<QString>("offStored");
        QTest::newRow("lid") << S::Lid << "F";
        QTest::newRow("cable") << S::PowerCable << "F";
        QTest::newRow("simulation (deleted when off)") << S::Simulation << "";
    }
    void userChoiceStored()
    {
        QFETCH(AlarmControl::Switch, which);
        QFETCH(QString, offStored);
        ReportLog report(m_dir.path() + QStringLiteral("/Reports/"));
        auto alarm = makeAlarm(report);
        alarm->ApplyMachineDefault(which, true);
        alarm->FlipSwitch(which);
        alarm->StoreSwitch(which);
        const QString name = AlarmControl::storeName(which);
        QCOMPARE(ReadRegString(StoreKeys::Settings, name),
                 alarm->isOn(which) ? StoreKeys::SwitchOn : offStored);
        alarm->setTag(which, 0);
        alarm->StoreSwitch(which);
        QCOMPARE(ReadRegString(StoreKeys::Settings, name), offStored);
        QVERIFY(!alarm->ApplyMachineDefault(which, true) || offStored.isEmpty());
        QCOMPARE(AlarmControl::StoredChoice(which).has_value(), !offStored.isEmpty());
    }

    void armingNamesThem()
    {
        ReportLog report(m_dir.path() + QStringLiteral("/Reports/"));
        QStringList observed;
        report.addLineObserver(
            [&](const QString &message, const QString &) { observed << message; });
        auto alarm = makeAlarm(report);
        alarm->setTag(S::Mouse, 1);
        alarm->setTag(S::PowerCable, 1);
        alarm->ActActivateToggleExecute();
        QCOMPARE(observed, QStringList({QStringLiteral("Mouse Detection - Enabled"),
                                        QStringLiteral("Power Cable Detection - Enabled"),
                                        QStringLiteral("Alarm - Activated")}));
        alarm->ActActivateToggleExecute();
        observed.clear();
        alarm->setTag(S::PowerCable, 0);
        alarm->setTag(S::Lid, 1);
        alarm->ActActivateToggleExecute();
        QCOMPARE(observed, QStringList({QStringLiteral("Mouse Detection - Enabled"),
                                        QStringLiteral("Lid Detection - Enabled"),
                                        QStringLiteral("Alarm - Activated")}));
        alarm->ActActivateToggleExecute();
    }
};

TARVO_TEST_MAIN(TestMachineSwitches)
#include "tst_machineswitches.moc"
