#include "audio/AlarmPlayback.h"
#include "audio/TestSounds.h"
#include "common/TestMain.h"

#include <QTemporaryDir>
#include <QtTest>
#include <vector>

using audio::AudioEngine;
using audio::Handle;

namespace {

const AlarmPlayback::Alteration kPlain{100, 0, 0, 100};

AlarmPlayback::RandomBelow fixedDraw(quint32 value, std::vector<quint32> *asked = nullptr)
{
    return [=](quint32 n) {
        if (asked)
            asked->push_back(n);
        return n == 0 ? 0 : std::min(value, n - 1);
    };
}

} // namespace

class TestAlarmPlayback : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_tone;  // 1 s, 441 Hz
    QString m_short; // 50 ms

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_tone = m_dir.filePath("tone.wav");
        m_short = m_dir.filePath("short.wav");
        QVERIFY(tarvo::test::writeTone(m_tone, 44100, 44100, 441));
        QVERIFY(tarvo::test::writeTone(m_short, 44100, 2205, 22));
    }

    void alteredRate_data()
    {
        QTest::addColumn<quint32>("F0");
        QTest::addColumn<int>("G");
        QTest::addColumn<int>("P");
        QTest::addColumn<int>("R");
        QTest::addColumn<quint32>("expected");

        QTest::newRow("no alteration") << 44100u << 0 << 0 << 0 << 44061u;
        QTest::newRow("P 50, R 0") << 44100u << 0 << 50 << 0 << 44061u;
        QTest::newRow("P 50, R 9") << 44100u << 0 << 50 << 9 << 48462u;
        QTest::newRow("P 100, R 0") << 44100u << 0 << 100 << 0 << 44061u;
        QTest::newRow("P 100, R 19") << 44100u << 0 << 100 << 19 << 53352u;
        QTest::newRow("G -100") << 44100u << -100 << 0 << 0 << 24211u;
        QTest::newRow("G +100") << 44100u << 100 << 0 << 0 << 63901u;
        QTest::newRow("G -3 truncates to -1") << 44100u << -3 << 0 << 0 << 43660u;
        QTest::newRow("22050 Hz") << 22050u << 0 << 0 << 0 << 22030u;
        QTest::newRow("48000 Hz") << 48000u << 0 << 0 << 0 << 47960u;
        QTest::newRow("F0 99, lower limit") << 99u << 0 << 0 << 0 << 100u;
        QTest::newRow("96000 Hz, upper limit") << 96000u << 100 << 100 << 0 << 100000u;
        QTest::newRow("F0 0") << 0u << 0 << 0 << 0 << 100u;
        QTest::newRow("huge F0") << 4000000000u << 100 << 100 << 19 << 100000u;
        QTest::newRow("draw beyond range kept in it") << 44100u << 0 << 50 << 40 << 48462u;
    }

    void alteredRate()
    {
        QFETCH(quint32, F0);
        QFETCH(int, G);
        QFETCH(int, P);
        QFETCH(int, R);
        QFETCH(quint32, expected);
        QCOMPARE(AlteredRate(F0, G, P, 100, R), expected);
    }

    void randomRangeAndPan()
    {
        const std::vector<std::pair<int, int>> ranges = {{0, 0},   {9, 0},   {10, 2},   {19, 2},
                                                         {50, 10}, {99, 18}, {100, 20}, {-20, 0}};
        for (const auto &[P, range] : ranges)
            QCOMPARE(RandomAlterationRange(P), range);
        QCOMPARE(PanForSpeaker(0), 100);
        QCOMPARE(PanForSpeaker(1), 0);
        QCOMPARE(PanForSpeaker(2), -100);
    }

    void speakerCheckOnStereoDevice()
    {
        AudioEngine engine;
        QVERIFY(engine.initOutput(44100));
        QCOMPARE(engine.speakerCount(), 2);
        AlarmPlayback playback(engine);
        QCOMPARE(playback.speakerFlag(0), audio::StreamFlag::Front);
        const auto buttons = playback.CheckNoOfSpeakers();
        QVERIFY(!buttons.button3 && !buttons.button6 && !buttons.button8);
        QVERIFY(!buttons.button4 && !buttons.button5);
        QCOMPARE(playback.speakerFlag(0), quint32(0));
        QCOMPARE(playback.speakerFlag(1), audio::StreamFlag::Rear);
        QCOMPARE(playback.speakerFlag(2), audio::StreamFlag::CenterLfe);
        QCOMPARE(playback.speakerFlag(3), audio::StreamFlag::Rear2);
    }

    void speakerCodePans_data()
    {
        QTest::addColumn<int>("speakerCode");
        QTest::addColumn<bool>("left");
        QTest::addColumn<bool>("right");
        QTest::newRow("0 right") << 0 << false << true;
        QTest::newRow("1 both") << 1 << true << true;
        QTest::newRow("2 left") << 2 << true << false;
    }

    void speakerCodePans()
    {
        QFETCH(int, speakerCode);
        QFETCH(bool, left);
        QFETCH(bool, right);
        AudioEngine engine;
        AlarmPlayback playback(engine);
        playback.PlayHow(0, speakerCode, m_tone, kPlain, fixedDraw(0));
        QVERIFY(playback.IsPlaying());
        std::vector<qint16> out(8192 * 2);
        engine.renderOutput(out.data(), 8192);
        int peaks[2] = {0, 0};
        for (std::size_t i = 2000 * 2; i < out.size(); ++i)
            peaks[i % 2] = std::max(peaks[i % 2], std::abs(int(out[i])));
        QCOMPARE(peaks[0] > 10000, left);
        QCOMPARE(peaks[1] > 10000, right);
        QCOMPARE(peaks[0] == 0, !left);
        QCOMPARE(peaks[1] == 0, !right);
    }

    void playHowDrawsAndAppliesRate_data()
    {
        QTest::addColumn<int>("P");
        QTest::addColumn<quint32>("draw");
        QTest::addColumn<quint32>("range");
        QTest::addColumn<int>("rate");
        QTest::newRow("P 0") << 0 << 0u << 0u << 44061;
        QTest::newRow("P 50, R 9") << 50 << 9u << 10u << 48462;
        QTest::newRow("P 100, R 19") << 100 << 19u << 20u << 53352;
    }

    void playHowDrawsAndAppliesRate()
    {
        QFETCH(int, P);
        QFETCH(quint32, draw);
        QFETCH(quint32, range);
        QFETCH(int, rate);
        AudioEngine engine;
        AlarmPlayback playback(engine);
        std::vector<quint32> asked;
        playback.PlayHow(0, 1, m_tone, {100, 0, P, 100}, fixedDraw(draw, &asked));
        QCOMPARE(asked, std::vector<quint32>{range});

        // One second of file at the altered rate lasts 44100 / rate seconds.
        const Handle stream = playback.slot(0);
        std::vector<qint16> chunk(512 * 2);
        int frames = 0;
        while (engine.isActive(stream) && frames < 3 * 44100) {
            engine.renderOutput(chunk.data(), 512);
            frames += 512;
        }
        const double expected = 44100.0 * 44100.0 / rate;
        QVERIFY2(std::abs(frames - expected) < 0.005 * expected + 600,
                 qPrintable(QStringLiteral("%1 frames, expected %2").arg(frames).arg(expected)));
        QVERIFY(!playback.IsPlaying());
        QCOMPARE(engine.defaultRate(stream), quint32(0)); // freed at its end
        QCOMPARE(playback.slot(0), stream);               // the slot keeps the handle
    }

    void slotTakesEveryNewHandle()
    {
        AudioEngine engine;
        AlarmPlayback playback(engine);
        playback.StopSounds(); // all empty: nothing happens
        QVERIFY(!playback.IsPlaying());

        playback.PlayHow(0, 1, m_tone, kPlain, fixedDraw(0));
        const Handle first = playback.slot(0);
        QVERIFY(first != 0);
        playback.PlayHow(0, 1, m_tone, kPlain, fixedDraw(0));
        const Handle second = playback.slot(0);
        QVERIFY(second != 0 && second != first);
        QVERIFY(engine.isActive(first)); // not stopped by the new play

        playback.PlayHow(0, 1, m_dir.filePath("missing.wav"), kPlain, fixedDraw(0));
        QCOMPARE(playback.slot(0), Handle(0));
        QVERIFY(engine.isActive(second));
        QVERIFY(!playback.IsPlaying()); // only slots are asked

        playback.PlayHow(7, 1, m_tone, kPlain, fixedDraw(0)); // no such slot
        QCOMPARE(playback.slot(7), Handle(0));
        engine.stop(first);
        engine.stop(second);
    }

    void stopSoundsStopsAndFreesAllSlots()
    {
        AudioEngine engine;
        AlarmPlayback playback(engine);
        playback.PlayHow(0, 0, m_tone, kPlain, fixedDraw(0));
        playback.PlayHow(2, 2, m_tone, kPlain, fixedDraw(0));
        const Handle a = playback.slot(0);
        const Handle b = playback.slot(2);
        QVERIFY(playback.IsPlaying());
        playback.StopSounds();
        QVERIFY(!playback.IsPlaying());
        QCOMPARE(playback.slot(0), a);
        QCOMPARE(playback.slot(2), b);
        QCOMPARE(engine.defaultRate(a), quint32(0));
        QCOMPARE(engine.defaultRate(b), quint32(0));
        playback.StopSounds(); // again, on freed handles
        QVERIFY(!playback.IsPlaying());
    }

    void playsToItsEndThroughTheDevice()
    {
        AudioEngine engine;
        QVERIFY(engine.initOutput(44100));
        AlarmPlayback playback(engine);
        playback.CheckNoOfSpeakers();
        playback.PlayHow(0, 1, m_short, kPlain, fixedDraw(0));
        QVERIFY(playback.slot(0) != 0);
        QVERIFY(playback.IsPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(!playback.IsPlaying(), 3000);
    }
};

TARVO_TEST_MAIN(TestAlarmPlayback)
#include "tst_alarmplayback.moc"
