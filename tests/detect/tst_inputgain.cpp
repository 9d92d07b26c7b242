// The input level's gain: its mapping at the ends and at a fresh install's
// position, clipping, and the gain applied to real captured blocks.

#include "common/TestMain.h"
#include "detect/InputGain.h"
#include "detect/MicrophoneMonitor.h"
#include "settings/ResetableSettings.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <cmath>

class TestInputGain : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mapping_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<double>("decibels");
        QTest::newRow("0: -40 dB") << 0 << -40.0;
        QTest::newRow("fresh install: unchanged") << InputGain::UnityPosition << 0.0;
        QTest::newRow("100: +12 dB") << 100 << 12.0;
        QTest::newRow("below the range") << -5 << -40.0;
        QTest::newRow("above the range") << 250 << 12.0;
        QTest::newRow("half way down") << 38 << -40.0 * 39 / 77;
    }

    void mapping()
    {
        QFETCH(int, position);
        QFETCH(double, decibels);
        QVERIFY(qAbs(InputGain::DecibelsAt(position) - decibels) < 1e-9);
        QVERIFY(qAbs(InputGain::FactorAt(position) - std::pow(10.0, decibels / 20)) < 1e-9);
        QCOMPARE(InputGain::PositionFor(decibels), std::clamp(position, 0, 100));
    }

    void freshInstallIsExactlyUnity()
    {
        QCOMPARE(InputGain::FactorAt(InputGain::UnityPosition), 1.0);
        // The reset restores the same position.
        const auto it = std::find_if(
            ResetableSettings.begin(), ResetableSettings.end(), [](const ResetableSetting &s) {
                return QLatin1String(s.control) == QLatin1String("trkMicSensivity");
            });
        QVERIFY(it != ResetableSettings.end());
        QCOMPARE(it->defaultValue, InputGain::UnityPosition);
    }

    void samples_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("right");
        QTest::addColumn<quint32>("leftPeak");
        QTest::addColumn<quint32>("rightPeak");
        QTest::newRow("unity") << 77 << 1234 << -32768 << 1234u << 32768u;
        QTest::newRow("-40 dB") << 0 << 10000 << -5000 << 100u << 50u;
        QTest::newRow("+12 dB") << 100 << 1000 << -1000 << 3981u << 3981u;
        QTest::newRow("+12 dB clips") << 100 << 20000 << -20000 << 32767u << 32768u;
    }

    void samples()
    {
        QFETCH(int, position);
        QFETCH(int, left);
        QFETCH(int, right);
        QFETCH(quint32, leftPeak);
        QFETCH(quint32, rightPeak);
        const qint16 frames[6] = {
            qint16(left / 2), qint16(right / 2), qint16(left), qint16(right), 0, 0};
        const quint32 word = InputGain::GainedLevelWord(frames, 3, InputGain::FactorAt(position));
        QCOMPARE(word & 0xFFFF, leftPeak);
        QCOMPARE(word >> 16, rightPeak);
        if (leftPeak < 32767) // a clipped peak's last step depends on the sample's sign
            QCOMPARE(InputGain::GainedPeak(quint32(std::abs(left)), InputGain::FactorAt(position)),
                     leftPeak);
    }

    // The gain on the real capture path: SDL's disk driver plays blocks of
    // a known peak into the monitor.
    void captureIsGained()
    {
        QTemporaryDir dir;
        QByteArray raw;
        for (int i = 0; i < 4410 * 20; ++i) {
            const qint16 frame[2] = {qint16(i % 2 ? 4000 : -4000), qint16(i % 2 ? 2000 : -2000)};
            raw.append(reinterpret_cast<const char *>(frame), sizeof frame);
        }
        QFile in(dir.filePath(QStringLiteral("in.raw")));
        QVERIFY(in.open(QIODevice::WriteOnly));
        in.write(raw);
        in.close();
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILEIN", QFile::encodeName(in.fileName()).constData(), 1);
        ::setenv("SDL_DISKAUDIOFILE", QFile::encodeName(dir.filePath("out.raw")).constData(), 1);
        ::setenv("SDL_DISKAUDIODELAY", "10", 1);
        audio::AudioEngine engine;
        QVERIFY(engine.initCapture());
        MicrophoneMonitor monitor(engine);
        QVERIFY(monitor.SelectInput());
        monitor.cmbRecSourceChange(monitor.selectedInput());
        monitor.trkMicSensivityChange(0); // -40 dB
        QSignalSpy levels(&monitor, &MicrophoneMonitor::levelReceived);
        QVERIFY(monitor.StartRecording());
        QTRY_VERIFY_WITH_TIMEOUT(levels.size() >= 3, 10000);
        monitor.StopRecording();
        QCOMPARE(levels.first().first().value<quint32>(), 40u | (20u << 16));
    }
};

TARVO_TEST_MAIN(TestInputGain)
#include "tst_inputgain.moc"
