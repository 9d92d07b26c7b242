// Messages nobody asked for never wait for a click: a store that fails while
// the window loads a stored armed alarm, or an armed alarm with no sound it
// can play, become notices (a report line while armed, a desktop
// notification, a box that holds nothing up). A box answering what the user
// just did by hand stays a box.

#include "WindowTest.h"
#include "common/TestMain.h"
#include "files/SafeFile.h"
#include "settings/StoreKeys.h"

#include <QDir>
#include <QSlider>
#include <cerrno>

using Kind = TfrmMain::MessageKind;

class TestUnaskedMessages : public tarvo::test::WindowTest
{
    Q_OBJECT

    void storeArmed(bool withSound)
    {
        WriteRegString(StoreKeys::Settings, StoreKeys::AlarmActive, StoreKeys::SwitchOn);
        WriteRegString(StoreKeys::Settings, QStringLiteral("ActMouDetectToggle"),
                       StoreKeys::SwitchOn);
        WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMainspnActivationDelay"),
                       QStringLiteral("0"));
        ReplaceRegKeyValues(StoreKeys::CheckedSounds, {QStringLiteral("a.wav")},
                            StoreKeys::SwitchOn);
        if (withSound) {
            QDir().mkpath(workingDirectory() + QStringLiteral("Sounds"));
            QFile sound(workingDirectory() + QStringLiteral("Sounds/a.wav"));
            QVERIFY(sound.open(QIODevice::WriteOnly));
        }
    }
    QStringList reportWith(TfrmMain &w, const QString &text) const
    {
        return w.report().lines().filter(text);
    }

private Q_SLOTS:
    void init() { startFresh(); }
    void cleanup() { SafeFile::InjectWriteFailure(0); }

    void storeFailureWhileResuming()
    {
        storeArmed(true);
        // Out of range: the window writes the clamped value back as it loads.
        WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMaintrkPersistence"),
                       QStringLiteral("150"));
        SafeFile::InjectWriteFailure(ENOSPC);
        auto w = makeWindow();
        QVERIFY(w);
        w->FormActivate();
        QVERIFY(w->alarm().isArmed());
        const QStringList failures = m_messages.filter(QStringLiteral("frmMaintrkPersistence"));
        QCOMPARE(failures.size(), 1);
        // So is the autostart entry the resume cannot write.
        QCOMPARE(m_messages.filter(QStringLiteral("autostart entry")).size(), 1);
        QCOMPARE(m_kinds, QList<Kind>(m_kinds.size(), Kind::Notice));
        QCOMPARE(reportWith(*w, QStringLiteral("frmMaintrkPersistence")).size(), 1);
    }

    void failureAnsweringTheUser()
    {
        auto w = makeWindow();
        QVERIFY(w);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->FormActivate();
        SafeFile::InjectWriteFailure(ENOSPC);
        w->trkPersistence->setValue(w->trkPersistence->value() + 5); // by hand
        QCOMPARE(m_kinds, QList<Kind>{Kind::Error});
        QVERIFY(m_messages.first().contains(QStringLiteral("frmMaintrkPersistence")));
        QVERIFY(reportWith(*w, QStringLiteral("frmMaintrkPersistence")).isEmpty());
    }

    void armedWithNothingToPlay_data()
    {
        QTest::addColumn<bool>("withSound");
        QTest::newRow("checked sound missing") << false;
        QTest::newRow("checked sound there") << true;
    }
    void armedWithNothingToPlay()
    {
        QFETCH(bool, withSound);
        storeArmed(withSound);
        auto w = makeWindow();
        QVERIFY(w);
        w->FormActivate();
        QVERIFY(w->alarm().isArmed());
        const QString said = QStringLiteral("no alarm sound can be played");
        QCOMPARE(m_messages.filter(said).size(), withSound ? 0 : 1);
        QCOMPARE(reportWith(*w, said).size(), withSound ? 0 : 1);
        if (!withSound) {
            QCOMPARE(m_kinds.at(m_messages.indexOf(m_messages.filter(said).first())), Kind::Notice);
            QCOMPARE(w->checkedSounds(), QStringList());
            // The check mark stays stored for when the sound is back.
            QStringList stored;
            ReadRegValueNames(StoreKeys::CheckedSounds, stored);
            QCOMPARE(stored, QStringList{QStringLiteral("a.wav")});
        }
    }
};

TARVO_TEST_MAIN(TestUnaskedMessages)
#include "tst_unaskedmessages.moc"
