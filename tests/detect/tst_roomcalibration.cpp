// Calibration of the microphone for a room, through SDL's disk driver: a
// quiet room at a known level gets settings under which it stays below the
// trigger volume, judged by the monitor's own rule; a loud room is
// flagged as not possible.

#include "common/TestMain.h"
#include "detect/InputGain.h"
#include "detect/MicrophoneMonitor.h"
#include "detect/RoomCalibration.h"

#include <QSignalSpy>
#include <QTemporaryDir>

namespace {
constexpr int BlockFrames = 4410;

// Blocks of a room: each block's peak from the list, noise-like samples
// below it.
QByteArray Room(const QList<int> &peaks)
{
    QByteArray raw;
    for (int peak : peaks) {
        for (int i = 0; i < BlockFrames; ++i) {
            const int value = i == BlockFrames / 3 ? peak : (i * 7919 % (peak + 1)) / 2;
            const qint16 frame[2] = {qint16(i % 2 ? value : -value), qint16(value / 2)};
            raw.append(reinterpret_cast<const char *>(frame), sizeof frame);
        }
    }
    return raw;
}

QList<int> QuietRoom()
{
    QList<int> peaks; // a laptop microphone in a quiet room: 150..400
    for (int i = 0; i < RoomCalibration::Blocks + 20; ++i)
        peaks << 150 + (i * 37) % 250;
    return peaks;
}
} // namespace

class TestRoomCalibration : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    CalibrationProposal measure(const QList<int> &peaks, int triggerLength, QList<quint32> *seen)
    {
        QFile in(m_dir.filePath(QStringLiteral("room.raw")));
        in.open(QIODevice::WriteOnly | QIODevice::Truncate);
        in.write(Room(peaks));
        in.close();
        ::setenv("SDL_DISKAUDIOFILEIN", QFile::encodeName(in.fileName()).constData(), 1);
        audio::AudioEngine engine;
        if (!engine.initCapture())
            return {};
        RoomCalibration calibration(engine);
        QSignalSpy done(&calibration, &RoomCalibration::finished);
        QSignalSpy progress(&calibration, &RoomCalibration::progress);
        if (!calibration.Start(triggerLength))
            return {};
        if (!QTest::qWaitFor([&] { return !done.isEmpty(); }, 60000))
            return {};
        if (seen)
            *seen = calibration.peaks();
        if (progress.last().first().toInt() != 100 || calibration.isRunning())
            return {};
        return done.first().first().value<CalibrationProposal>();
    }

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<CalibrationProposal>();
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_dir.filePath("out.raw")).constData(), 1);
        ::setenv("SDL_DISKAUDIODELAY", "5", 1); // faster than real time
    }

    void proposals_data()
    {
        QTest::addColumn<QList<quint32>>("peaks");
        QTest::addColumn<bool>("possible");
        QTest::addColumn<int>("inputLevel"); // -1: do not check
        QTest::addColumn<int>("triggerVolume");
        QTest::newRow("silent room keeps today's settings")
            << QList<quint32>{3, 5, 4, 6} << true << InputGain::UnityPosition << 50;
        QTest::newRow("quiet room: the level comes down")
            << QList<quint32>{300, 250, 280} << true << -1 << 50;
        QTest::newRow("loud room: the volume goes up too")
            << QList<quint32>{4000, 3500} << true << 0 << 90; // ceiling 4500 at -40 dB
        QTest::newRow("too loud") << QList<quint32>{20000, 18000, 25000} << false << 0 << 100;
        QTest::newRow("nothing measured") << QList<quint32>{} << false << 77 << 50;
    }

    void proposals()
    {
        QFETCH(QList<quint32>, peaks);
        QFETCH(bool, possible);
        QFETCH(int, inputLevel);
        QFETCH(int, triggerVolume);
        const CalibrationProposal p = ProposeCalibration(peaks, 50);
        QCOMPARE(p.possible, possible);
        if (inputLevel >= 0)
            QCOMPARE(p.inputLevel, inputLevel);
        QCOMPARE(p.triggerVolume, triggerVolume);
        if (possible) {
            QVERIFY(p.gainedCeiling * CalibrationMargin <= p.triggerVolume);
            QVERIFY(p.inputLevel <= InputGain::UnityPosition);
            // As sensitive as the room allows: one step up would not fit.
            if (p.inputLevel < InputGain::UnityPosition && p.triggerVolume == 50)
                QVERIFY(
                    InputGain::GainedPeak(p.roomCeiling, InputGain::FactorAt(p.inputLevel + 1)) *
                        CalibrationMargin >
                    50);
        }
    }

    void quietRoomStaysBelowTheTriggerVolume()
    {
        QList<quint32> seen;
        const CalibrationProposal p = measure(QuietRoom(), 50, &seen);
        QCOMPARE(p.blocks, RoomCalibration::Blocks);
        QVERIFY(p.possible);
        QCOMPARE(p.roomPeak, 399u);
        QVERIFY(p.roomSpread > 50 && p.roomSpread < 100);
        QVERIFY(p.inputLevel < InputGain::UnityPosition);
        QVERIFY(p.triggerLength >= 50);

        // The same room through the monitor's rule at the proposed values:
        // no detection, and the loudest block at most half the volume.
        audio::AudioEngine engine;
        MicrophoneMonitor monitor(engine);
        const double gain = InputGain::FactorAt(p.inputLevel);
        for (int peak : QuietRoom()) {
            const quint32 gained = InputGain::GainedPeak(quint32(peak), gain);
            QVERIFY(gained * CalibrationMargin <= quint32(p.triggerVolume));
            QVERIFY(!monitor.CheckLevel(gained, p.triggerVolume, p.triggerLength).triggered);
        }
        // Today's settings would have gone off in this room.
        MicrophoneMonitor before(engine);
        bool wouldTrigger = false;
        for (int peak : QuietRoom())
            wouldTrigger = before.CheckLevel(quint32(peak), 50, 50).triggered || wouldTrigger;
        QVERIFY(wouldTrigger);
    }

    void loudRoomIsNotPossible()
    {
        QList<int> loud;
        for (int i = 0; i < RoomCalibration::Blocks + 20; ++i)
            loud << 15000 + (i * 101) % 5000;
        const CalibrationProposal p = measure(loud, 50, nullptr);
        QCOMPARE(p.blocks, RoomCalibration::Blocks);
        QVERIFY(!p.possible);
        QVERIFY(p.roomPeak >= 19000);
    }
};

TARVO_TEST_MAIN(TestRoomCalibration)
#include "tst_roomcalibration.moc"
