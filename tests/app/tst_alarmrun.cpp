// One trigger through the whole chain: the simulation tick is accepted,
// reported and queued, its first sound starts at once and the task timer
// plays the rest of the run through the real audio engine, sound after
// sound, on the speakers the records name.

#include "common/TestMain.h"

#include "../audio/TestSounds.h"
#include "alarm/AlarmControl.h"
#include "audio/AlarmPlayback.h"
#include "audio/AudioEngine.h"
#include "report/ReportLog.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cmath>

namespace {

struct Rendered
{
    double left = 0; // RMS per channel
    double right = 0;
    int crossingsPerSecond = 0; // of the louder channel
};

// Renders until nothing plays any more.
Rendered renderUntilSilent(audio::AudioEngine &engine, AlarmPlayback &playback)
{
    std::vector<qint16> all;
    std::vector<qint16> chunk(2 * 1024);
    for (int guard = 0; playback.IsPlaying() && guard < 1000; ++guard) {
        engine.renderOutput(chunk.data(), 1024);
        all.insert(all.end(), chunk.begin(), chunk.end());
    }
    Rendered r;
    const std::size_t frames = all.size() / 2;
    if (frames == 0)
        return r;
    double l = 0, rt = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        l += double(all[2 * i]) * all[2 * i];
        rt += double(all[2 * i + 1]) * all[2 * i + 1];
    }
    r.left = std::sqrt(l / double(frames));
    r.right = std::sqrt(rt / double(frames));
    const int channel = r.right > r.left ? 1 : 0;
    // Pitch over the sounding stretch only, without the silence after it.
    std::size_t first = frames, last = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        if (all[2 * i + channel] != 0) {
            first = std::min(first, i);
            last = i;
        }
    }
    int crossings = 0;
    for (std::size_t i = first + 1; i <= last; ++i)
        if ((all[2 * (i - 1) + channel] < 0) != (all[2 * i + channel] < 0))
            ++crossings;
    if (last > first)
        r.crossingsPerSecond = int(double(crossings) * 44100.0 / double(last - first));
    return r;
}

} // namespace

class TestAlarmRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void simulatedAlarmPlaysItsRun()
    {
        QTemporaryDir dir;
        const QString sounds = dir.path() + QStringLiteral("/Sounds/");
        QDir().mkpath(sounds);
        // Two half-second tones an octave apart, so each sound is recognisable.
        const QStringList checked{QStringLiteral("low tone.wav"), QStringLiteral("high tone.wav")};
        QVERIFY(tarvo::test::writeTone(sounds + checked[0], 44100, 22050, 220));
        QVERIFY(tarvo::test::writeTone(sounds + checked[1], 44100, 22050, 440));

        audio::AudioEngine engine; // no device: the test renders the mix itself
        AlarmPlayback playback(engine);
        ReportLog report(dir.path() + QStringLiteral("/Reports/"));
        QRandomGenerator random(12345);

        AlarmControl::Hooks hooks;
        hooks.activationDelay = [] { return 0; };
        hooks.triggerDelay = [] { return 0; };
        hooks.simulateEvery = [] { return 5; };
        hooks.simulateRandom = [] { return 0; };
        hooks.persistence = [] { return 5; };
        hooks.persistenceRandom = [] { return 0; };
        hooks.isPlaying = [&] { return playback.IsPlaying(); };
        hooks.stopSounds = [&] { playback.StopSounds(); };
        struct Started
        {
            int speaker;
            QString path;
        };
        QList<Started> started;
        hooks.playHow = [&](int slot, int speaker, const QString &path) {
            started.append({speaker, path});
            playback.PlayHow(slot, speaker, path, {100, 0, 0, 100},
                             [&](quint32 n) { return n ? random.bounded(n) : 0; });
        };
        hooks.checkedSounds = [&] { return checked; };
        hooks.soundsFolder = [&] { return sounds; };
        hooks.randomBelow = [&](quint32 n) { return n ? random.bounded(n) : 0u; };
        hooks.executablePath = QStringLiteral("/usr/bin/tarvo2");
        AlarmControl alarm(report, hooks);

        alarm.setTag(AlarmControl::Switch::Simulation, 1);
        alarm.StartSimulation();
        alarm.ActActivateToggleExecute(); // delay 0: armed at once
        QVERIFY(alarm.isArmed());

        alarm.TimSimulationTimer();
        QVERIFY(report.lines().last().endsWith(QStringLiteral("] Alarm simulated")));
        QVERIFY(alarm.ledLit(AlarmControl::Led::Simulation));
        QVERIFY(alarm.TimSimulation.isActive());
        // persistence 5 + 1 records; the first one plays at once.
        QCOMPARE(started.size(), 1);
        QCOMPARE(alarm.tasks().count(), 5);

        for (int i = 0; i < 6; ++i) {
            if (i > 0)
                alarm.TimTaskTimer();
            QCOMPARE(started.size(), i + 1);
            const Started task = started.at(i);
            QVERIFY2(playback.IsPlaying(), qPrintable(task.path));
            alarm.TimTaskTimer(); // never a second sound while one plays
            QCOMPARE(started.size(), i + 1);
            const Rendered out = renderUntilSilent(engine, playback);
            const int expectedCrossings =
                task.path.endsWith(checked[0]) ? 880 : 1760; // 440 / 880 Hz
            QVERIFY2(std::abs(out.crossingsPerSecond - expectedCrossings) < 30,
                     qPrintable(QStringLiteral("%1: %2 crossings/s")
                                    .arg(task.path)
                                    .arg(out.crossingsPerSecond)));
            switch (task.speaker) {
            case 0: // right
                QVERIFY(out.right > 1000 && out.left < 1);
                break;
            case 1: // both
                QVERIFY(out.right > 1000 && std::abs(out.left - out.right) < 1);
                break;
            case 2: // left
                QVERIFY(out.left > 1000 && out.right < 1);
                break;
            default:
                QFAIL("speaker code out of range");
            }
        }
        QVERIFY(alarm.tasks().isEmpty());

        // The run is over: the next simulated alarm is accepted again (after the mute).
        alarm.TimTempMuteTimer();
        alarm.TimSimulationTimer();
        QCOMPARE(started.size(), 7);
        QCOMPARE(alarm.tasks().count(), 5);
        alarm.AlarmStopStart(false); // disarming empties the queue
        QVERIFY(alarm.tasks().isEmpty());
        QVERIFY(!playback.IsPlaying());
    }
};

TARVO_TEST_MAIN(TestAlarmRun)
#include "tst_alarmrun.moc"
