// Start-up on a store that cannot be written (full disk, read-only disk, a
// failing write) still reads every setting and resumes a stored armed alarm.

#include "app/fmMain.h"
#include "common/TestMain.h"
#include "common/TinyDisk.h"
#include "files/SafeFile.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QDir>
#include <QFile>
#include <QSlider>
#include <QTemporaryDir>
#include <unistd.h>

using tarvo::test::TinyDisk;
using S = AlarmControl::Switch;

class TestStartupFaults : public QObject
{
    Q_OBJECT
    QString m_configHome;

private Q_SLOTS:
    void initTestCase() { m_configHome = qEnvironmentVariable("XDG_CONFIG_HOME"); }
    void init() { ::alarm(120); } // a modal box or a blocking open fails, not hangs
    void cleanup()
    {
        ::alarm(0);
        SafeFile::InjectWriteFailure(0);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome));
    }

    void armedAlarmResumes_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("failing writes") << QStringLiteral("inject");
        QTest::newRow("full disk") << QStringLiteral("full");
        QTest::newRow("read-only disk") << QStringLiteral("read-only");
    }
    void armedAlarmResumes()
    {
        QFETCH(QString, fault);
        TinyDisk disk(256);
        QTemporaryDir config;
        if (fault != QLatin1String("inject") && !disk.mounted())
            QSKIP("mounting a small file system needs root");
        qputenv("XDG_CONFIG_HOME",
                QFile::encodeName(fault == QLatin1String("inject") ? config.path() : disk.path()));

        QTemporaryDir work;
        QDir().mkpath(work.filePath(QStringLiteral("Sounds")));
        QFile sound(work.filePath(QStringLiteral("Sounds/a.wav")));
        QVERIFY(sound.open(QIODevice::WriteOnly));
        sound.close();
        // What an armed program left behind.
        WriteRegString(StoreKeys::Settings, StoreKeys::AlarmActive, StoreKeys::SwitchOn);
        WriteRegString(StoreKeys::Settings, QStringLiteral("ActSimToggle"), StoreKeys::SwitchOn);
        WriteRegString(StoreKeys::Settings, StoreKeys::MsgThanx, StoreKeys::SwitchOn);
        WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMainspnActivationDelay"),
                       QStringLiteral("0"));
        WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMaintrkAlarmVolume"),
                       QStringLiteral("77"));
        ReplaceRegKeyValues(StoreKeys::CheckedSounds, {QStringLiteral("a.wav")},
                            StoreKeys::SwitchOn);

        if (fault == QLatin1String("inject"))
            SafeFile::InjectWriteFailure(ENOSPC);
        else if (fault == QLatin1String("full"))
            QVERIFY(disk.fill());
        else
            QVERIFY(disk.setReadOnly(true));

        // As the process entry does first; its failure must not matter.
        try {
            WriteRegString(StoreKeys::Version, StoreKeys::ProgramLocation,
                           QStringLiteral("/somewhere/new/tarvo2"));
        } catch (const RegistryError &) {
        }

        TfrmMain w(work.path() + QLatin1Char('/'));
        QStringList messages;
        w.setMessageSink(
            [&messages](TfrmMain::MessageKind, const QString &text) { messages << text; });
        QVERIFY(w.FormCreate());
        QVERIFY(w.alarm().isOn(S::Alarm));
        QVERIFY(w.alarm().isOn(S::Simulation));
        QCOMPARE(w.trkAlarmVolume->value(), 77);
        QCOMPARE(w.chklbSounds->count(), 1);
        QCOMPARE(w.chklbSounds->item(0)->checkState(), Qt::Checked);
        QCOMPARE(ReadRegString(StoreKeys::Settings, StoreKeys::MsgThanx), StoreKeys::SwitchOn);
        w.FormActivate();
        QVERIFY(w.alarm().isArmed());
        QVERIFY(w.alarm().TimSimulation.isActive());
        QVERIFY2(messages.filter(QStringLiteral("locked")).isEmpty(),
                 qPrintable(messages.join(u'\n')));
        if (fault == QLatin1String("read-only"))
            QVERIFY(disk.setReadOnly(false));
    }
};

TARVO_TEST_MAIN(TestStartupFaults)
#include "tst_startupfaults.moc"
