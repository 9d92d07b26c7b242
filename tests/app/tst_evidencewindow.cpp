// The window's pictures: off on a fresh install; with photos on, an accepted
// trigger takes one after its own line; without a screenshot service the
// screen is "not available" after the trigger; the "Evidence…" dialog under Options
// keeps its settings and shows a test photo without saving it.

#include "common/TestMain.h"
#include "evidence/PrivateCamera.h"

#include "alarm/Autostart.h"
#include "app/ArmableWindow.h"
#include "app/OptionsMenu.h"
#include "app/fmEvidence.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

using tarvo::test::PrivateCamera;

class TestEvidenceWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    std::unique_ptr<TfrmMain> armedWindow()
    {
        auto w = tarvo::test::makeArmableWindow(m_dir->path() + QLatin1Char('/'));
        if (w)
            w->ActActivateToggle->trigger();
        return w && w->alarm().isArmed() ? std::move(w) : nullptr;
    }
    static int IndexOf(const QStringList &lines, const QString &text)
    {
        for (int i = 0; i < lines.size(); ++i)
            if (lines.at(i).contains(text))
                return i;
        return -1;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QFile::remove(RegistryFilePath());
        RemoveAutostartEntry();
    }

    void aFreshInstallTakesNoPictures()
    {
        auto w = armedWindow();
        QVERIFY(w);
        w->alarm().ActivateAlarm(QStringLiteral("Mouse detected"));
        QTest::qWait(50);
        QVERIFY(!w->evidence().cameraBusy());
        QCOMPARE(IndexOf(w->report().lines(), QStringLiteral("Photo")), -1);
        QVERIFY(!QDir(w->evidenceFolder()).exists());
    }

    void aTriggerTakesAPhotoAfterItsLine()
    {
        PrivateCamera camera;
        QVERIFY(camera.ready());
        EvidenceSettings settings;
        settings.photo = true;
        settings.save();
        auto w = armedWindow();
        QVERIFY(w);
        QCOMPARE(w->evidenceFolder(), m_dir->path() + QStringLiteral("/Reports/Evidence/"));
        QSignalSpy photos(&w->evidence(), &EvidenceRecorder::photoFinished);
        w->alarm().ActivateAlarm(QStringLiteral("Mouse detected"));
        QVERIFY(photos.wait(15000));
        const QString path = photos.at(0).at(0).toString();
        QVERIFY(QFileInfo(path).isFile());
        QCOMPARE(QFileInfo(path).absolutePath() + QLatin1Char('/'), w->evidenceFolder());
        const QStringList lines = w->report().lines();
        const int trigger = IndexOf(lines, QStringLiteral("] Mouse detected"));
        QVERIFY(trigger >= 0);
        QVERIFY(IndexOf(lines, QStringLiteral("] Photo saved: ") + QFileInfo(path).fileName()) >
                trigger);
    }

    // Off X11 the screen goes through the session's screenshot service; a
    // session without one costs the picture, not the alarm.
    void noScreenshotServiceIsSaidAfterTheTrigger()
    {
        EvidenceSettings settings;
        settings.screen = true;
        settings.save();
        auto w = armedWindow();
        QVERIFY(w);
        QSignalSpy screens(&w->evidence(), &EvidenceRecorder::screenFinished);
        w->alarm().ActivateAlarm(QStringLiteral("Mouse detected"));
        QVERIFY(screens.wait(15000));
        QCOMPARE(screens.at(0).at(0).toString(), QString());
        const QStringList lines = w->report().lines();
        const int trigger = IndexOf(lines, QStringLiteral("] Mouse detected"));
        QVERIFY(trigger >= 0);
        QVERIFY(IndexOf(lines, QStringLiteral("] Screen not available")) > trigger);
        QVERIFY(w->alarm().isArmed());
        QVERIFY(!QDir(w->evidenceFolder()).exists());
    }

    void theDialogKeepsItsSettings()
    {
        auto w = tarvo::test::makeArmableWindow(m_dir->path() + QLatin1Char('/'));
        QVERIFY(w);
        QCOMPARE(tarvo::test::OptionsEntryAboveLastGroup(*w, QStringLiteral("mnuEvidence")),
                 QStringLiteral("Evidence…"));

        TfrmEvidence dialog(w->evidence());
        QVERIFY(!dialog.chkPhoto->isChecked() && !dialog.chkScreen->isChecked());
        QVERIFY(dialog.chkSend->isChecked());
        QCOMPARE(dialog.spnKeepDays->value(), 30);
        QCOMPARE(dialog.spnMaxMB->value(), 500);
        dialog.chkScreen->setChecked(true);
        dialog.chkSend->setChecked(false);
        dialog.spnKeepDays->setValue(0);
        dialog.spnMaxMB->setValue(20);
        QVERIFY(dialog.save());
        const EvidenceSettings stored = EvidenceSettings::Load();
        QVERIFY(!stored.photo && stored.screen && !stored.send);
        QCOMPARE(stored.limits.keepDays, 0);
        QCOMPARE(stored.limits.maxMB, 20);
    }

    void theTestPhotoIsShownNotSaved()
    {
        PrivateCamera camera;
        QVERIFY(camera.ready());
        auto w = tarvo::test::makeArmableWindow(m_dir->path() + QLatin1Char('/'));
        QVERIFY(w);
        TfrmEvidence dialog(w->evidence());
        QSignalSpy taken(&w->evidence(), &EvidenceRecorder::testPhotoTaken);
        dialog.btnTestPhoto->click();
        QVERIFY(!dialog.btnTestPhoto->isEnabled());
        QVERIFY(taken.wait(15000));
        QVERIFY(dialog.btnTestPhoto->isEnabled());
        QVERIFY(!dialog.imgTestPhoto->pixmap().isNull());
        QCOMPARE(dialog.lblTestPhoto->text(),
                 QStringLiteral("%1 × %2").arg(PrivateCamera::Width).arg(PrivateCamera::Height));
        QVERIFY(!QDir(w->evidenceFolder()).exists());
    }
};

TARVO_TEST_MAIN(TestEvidenceWindow)
#include "tst_evidencewindow.moc"
