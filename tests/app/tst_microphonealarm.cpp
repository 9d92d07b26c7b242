// The microphone through the real capture path: SDL's disk driver feeds the
// window's recording a file of quiet, loud and quiet again; armed, the loud
// stretch raises one alarm, disarmed it only lights the LED.

#include "common/TestMain.h"

#include "app/LedShape.h"
#include "app/fmMain.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>

class TestMicrophoneAlarm : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // 16-bit stereo at 44100 Hz, as the recording opens the device.
    void writeRoomSound(const QString &path)
    {
        QByteArray data;
        auto append = [&](int blocks, qint16 amplitude) {
            for (int i = 0; i < blocks * 4410; ++i) {
                const qint16 sample = (i % 2) ? amplitude : qint16(-amplitude);
                data.append(reinterpret_cast<const char *>(&sample), 2);
                data.append(reinterpret_cast<const char *>(&sample), 2);
            }
        };
        append(5, 10);    // a quiet room, below the trigger volume of 50
        append(10, 8000); // someone at the machine
        append(30, 10);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(data);
    }

    std::unique_ptr<TfrmMain> makeWindow()
    {
        auto window = std::make_unique<TfrmMain>(m_dir.path() + QLatin1Char('/'));
        window->setMessageSink([](TfrmMain::MessageKind, const QString &text) {
            QFAIL(qPrintable(QStringLiteral("unexpected message: ") + text));
        });
        if (!window->FormCreate())
            return nullptr;
        window->trkMicTriggerVolume->setValue(50);
        window->trkMicTriggerDuration->setValue(2);
        window->spnActivationDelay->setValue(0);
        return window;
    }

    static int linesWith(TfrmMain &w, const QString &text)
    {
        return int(w.report().lines().filter(QStringLiteral("] ") + text).size());
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QString input = m_dir.filePath(QStringLiteral("room.raw"));
        writeRoomSound(input);
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILEIN", QFile::encodeName(input).constData(), 1);
        ::setenv("SDL_DISKAUDIOFILE",
                 QFile::encodeName(m_dir.filePath(QStringLiteral("speakers.raw"))).constData(), 1);
        ::setenv("SDL_DISKAUDIODELAY", "20", 1); // 100 ms blocks, five times faster

        QDir().mkpath(m_dir.filePath(QStringLiteral("Sounds")));
        QFile sound(m_dir.filePath(QStringLiteral("Sounds/alarm.wav")));
        QVERIFY(sound.open(QIODevice::WriteOnly)); // a file the alarm cannot decode: silent run
        WriteRegString(StoreKeys::CheckedSounds, QStringLiteral("alarm.wav"), QStringLiteral("T"));
    }

    void armedLoudStretchRaisesOneAlarm()
    {
        auto w = makeWindow();
        QVERIFY(w);
        w->ActMicDetectToggle->trigger(); // starts recording from the file
        QVERIFY(w->microphone().isRecording());
        w->ActActivateToggle->trigger();
        QVERIFY(w->alarm().isArmed());

        QTRY_COMPARE_WITH_TIMEOUT(linesWith(*w, QStringLiteral("Microphone detected")), 1, 10000);
        QVERIFY(w->alarm().tasks().count() > 0 || w->playback().IsPlaying() ||
                w->alarm().TimTempMute.isActive());
        // The rest of the loud stretch and the quiet after it add nothing.
        QTest::qWait(1500);
        QCOMPARE(linesWith(*w, QStringLiteral("Microphone detected")), 1);
        w->ActActivateToggle->trigger();
        QCOMPARE(linesWith(*w, QStringLiteral("Alarm - Stoped")), 1);
        QVERIFY(w->alarm().tasks().isEmpty());
        w->ActMicDetectToggle->trigger();
        QVERIFY(!w->microphone().isRecording());
    }

    void disarmedLoudStretchOnlyLightsTheLed()
    {
        auto w = makeWindow();
        QVERIFY(w);
        const int linesBefore = w->report().count();
        QSignalSpy led(&w->microphone(), &MicrophoneMonitor::ledChanged);
        w->ActMicDetectToggle->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!led.isEmpty() && led.first().first().toBool(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!w->shpLedMicDetection->isLit(), 2000);
        QTest::qWait(500);
        QCOMPARE(w->report().count(), linesBefore);
        QVERIFY(w->alarm().tasks().isEmpty());
        w->ActMicDetectToggle->trigger();
    }
};

TARVO_TEST_MAIN(TestMicrophoneAlarm)
#include "tst_microphonealarm.moc"
