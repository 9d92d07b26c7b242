// "Calibrate microphone…" on the window: the Options menu item, the dialog
// measuring a room fed by SDL's disk driver, its proposal taken over into
// the sliders, and no arming while it runs.

#include "common/TestMain.h"

#include "alarm/Autostart.h"
#include "app/dlgCalibrate.h"
#include "app/fmMain.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>

class TestCalibrateMenu : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase()
    {
        // A quiet room whose peak, 600, is above today's trigger volume.
        QByteArray raw;
        for (int i = 0; i < 4410 * 130; ++i) {
            const qint16 value = qint16(i % 4410 == 100 ? 600 : (i % 97) * 3);
            const qint16 frame[2] = {value, qint16(-value)};
            raw.append(reinterpret_cast<const char *>(frame), sizeof frame);
        }
        QFile in(m_dir.filePath(QStringLiteral("room.raw")));
        QVERIFY(in.open(QIODevice::WriteOnly));
        in.write(raw);
        in.close();
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILEIN", QFile::encodeName(in.fileName()).constData(), 1);
        ::setenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_dir.filePath("out.raw")).constData(), 1);
        ::setenv("SDL_DISKAUDIODELAY", "5", 1);
    }

    void init()
    {
        QFile::remove(RegistryFilePath());
        RemoveAutostartEntry();
    }

    void menuItemSitsBeforeTheSeparator()
    {
        TfrmMain w(m_dir.path() + QLatin1Char('/'));
        QVERIFY(w.FormCreate());
        auto *options = w.menuBar()->findChild<QMenu *>(QStringLiteral("mnuOptions"));
        QVERIFY(options);
        // Other items may join it there; it stays before the separator.
        QStringList names;
        for (QAction *action : options->actions())
            names << action->objectName();
        const qsizetype item = names.indexOf(QStringLiteral("mnuCalibrateMicrophone"));
        QVERIFY(item > names.indexOf(QStringLiteral("mnuResetSettingToDefault")));
        QVERIFY(item < names.indexOf(QStringLiteral("N5")));
        QCOMPARE(w.mnuCalibrateMicrophone->text().remove(QLatin1Char('&')),
                 QStringLiteral("Calibrate microphone…"));
    }

    void proposalIsTakenOver_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("accepted") << true;
        QTest::newRow("cancelled") << false;
    }

    void proposalIsTakenOver()
    {
        QFETCH(bool, accept);
        QDir().mkpath(m_dir.filePath(QStringLiteral("Sounds")));
        QFile sound(m_dir.filePath(QStringLiteral("Sounds/alarm.wav")));
        QVERIFY(sound.open(QIODevice::WriteOnly));
        WriteRegString(StoreKeys::CheckedSounds, QStringLiteral("alarm.wav"), QStringLiteral("T"));
        TfrmMain w(m_dir.path() + QLatin1Char('/'));
        w.setMessageSink([](TfrmMain::MessageKind, const QString &text) {
            QFAIL(qPrintable(QStringLiteral("unexpected message: ") + text));
        });
        QVERIFY(w.FormCreate());
        w.ActMicDetectToggle->trigger();
        QVERIFY(w.ActActivateToggle->isEnabled());

        w.mnuCalibrateMicrophone->trigger();
        auto *dialog = w.findChild<dlgCalibrate *>();
        QVERIFY(dialog);
        QVERIFY(!w.ActActivateToggle->isEnabled()); // nothing is armed meanwhile
        QTRY_VERIFY_WITH_TIMEOUT(dialog->hasProposal(), 60000);
        QCOMPARE(dialog->pbMeasure->value(), 100);
        QVERIFY(dialog->lblResult->text().contains(QStringLiteral("peak level 600")));
        QVERIFY(dialog->btnAccept->isEnabled());
        const CalibrationProposal p = dialog->proposal();
        QVERIFY(p.possible);
        QVERIFY(p.inputLevel < 77);
        (accept ? dialog->btnAccept : dialog->btnCancel)->click();
        QTRY_VERIFY(!w.findChild<dlgCalibrate *>());
        QCOMPARE(w.trkMicSensivity->value(), accept ? p.inputLevel : 77);
        QCOMPARE(w.trkMicTriggerVolume->value(), accept ? p.triggerVolume : 50);
        QCOMPARE(w.trkMicTriggerDuration->value(), accept ? p.triggerLength : 50);
        QVERIFY(w.ActActivateToggle->isEnabled());
        QTRY_VERIFY(w.microphone().isRecording()); // the detector listens again
        w.mnuResetSettingToDefault->trigger();
    }
};

TARVO_TEST_MAIN(TestCalibrateMenu)
#include "tst_calibratemenu.moc"
