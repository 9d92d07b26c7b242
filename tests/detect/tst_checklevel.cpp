// The microphone's judgement of each block: runs of loud blocks against the
// trigger volume and length, exact silence, the two channels, the gauges and
// the detection LED; and the choice of capture input at start-up.

#include "common/TestMain.h"
#include "detect/MicrophoneMonitor.h"

#include <QSignalSpy>
#include <QThread>

Q_DECLARE_METATYPE(QList<quint32>)

namespace {
quint32 Stereo(quint32 left, quint32 right)
{
    return left | (right << 16);
}

QList<quint32> Repeat(quint32 level, int blocks)
{
    return QList<quint32>(blocks, level);
}
} // namespace

class TestCheckLevel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void runs_data();
    void runs();
    void ledStaysLitFromFirstTrigger();
    void stopRecordingClearsCountOnly();
    void nothingSelectedStartsNothing();
    void inputSelection_data();
    void inputSelection();

private:
    audio::AudioEngine m_engine;
};

void TestCheckLevel::runs_data()
{
    QTest::addColumn<int>("triggerVolume");
    QTest::addColumn<int>("triggerLength");
    QTest::addColumn<QList<quint32>>("levels");
    QTest::addColumn<QList<int>>("raisingBlocks"); // 1-based
    QTest::addColumn<int>("finalCount");
    QTest::addColumn<int>("finalDetectionGauge");
    QTest::addColumn<int>("finalDurationGauge");

    QList<quint32> rising;
    for (int i = 0; i < 60; ++i)
        rising.append(Stereo(60 + 10 * i, 60 + 10 * i));
    QList<int> from51;
    for (int i = 51; i <= 60; ++i)
        from51.append(i);
    QTest::newRow("T50 D50: 51st block and every later one")
        << 50 << 50 << rising << from51 << 60 << 100 << 60;

    QTest::newRow("D0: first block at T")
        << 50 << 0 << QList<quint32>{Stereo(50, 50)} << QList<int>{1} << 1 << 50 << 1;
    QTest::newRow("D1: second consecutive block")
        << 50 << 1 << Repeat(Stereo(50, 50), 3) << QList<int>{2, 3} << 3 << 50 << 3;
    QTest::newRow("peak 49 resets the run")
        << 50 << 2 << QList<quint32>{Stereo(60, 60), Stereo(60, 60), Stereo(49, 49),
                                     Stereo(60, 60), Stereo(60, 60), Stereo(60, 60)}
        << QList<int>{6} << 3 << 60 << 3;
    QTest::newRow("exact silence keeps the count and shows 0")
        << 50 << 5 << QList<quint32>{Stereo(60, 60), Stereo(60, 60), 0} << QList<int>{} << 2 << 0
        << 2;
    QTest::newRow("silence inside a run neither ends nor extends it")
        << 50 << 2 << QList<quint32>{Stereo(60, 60), Stereo(60, 60), 0, 0, Stereo(60, 60)}
        << QList<int>{5} << 3 << 60 << 3;
    QTest::newRow("silence at D0 raises nothing")
        << 0 << 0 << Repeat(0, 4) << QList<int>{} << 0 << 0 << 0;
    QTest::newRow("left 30, right 80: right counts")
        << 50 << 0 << QList<quint32>{Stereo(30, 80)} << QList<int>{1} << 1 << 80 << 1;
    QTest::newRow("left 80, right 30: left counts")
        << 50 << 0 << QList<quint32>{Stereo(80, 30)} << QList<int>{1} << 1 << 80 << 1;
    QTest::newRow("one silent channel is not silence")
        << 50 << 5 << QList<quint32>{Stereo(60, 60), Stereo(0, 10)} << QList<int>{} << 0 << 10 << 0;
    QTest::newRow("level 5000 shows full scale")
        << 50 << 5 << QList<quint32>{Stereo(5000, 100)} << QList<int>{} << 1 << 100 << 1;
    QTest::newRow("full-scale peaks compare unsigned")
        << 100 << 0 << QList<quint32>{Stereo(32768, 32768), Stereo(0xFFFF, 0)} << QList<int>{1, 2}
        << 2 << 100 << 2;
    QTest::newRow("duration gauge capped at 100")
        << 50 << 200 << Repeat(Stereo(60, 60), 150) << QList<int>{} << 150 << 60 << 100;
    QTest::newRow("T0: every block that is not silence counts")
        << 0 << 2 << QList<quint32>{Stereo(1, 0), Stereo(0, 1), 0, Stereo(1, 1)} << QList<int>{4}
        << 3 << 1 << 3;
    QTest::newRow("T100: 99 is below")
        << 100 << 0 << QList<quint32>{Stereo(99, 99)} << QList<int>{} << 0 << 99 << 0;
}

void TestCheckLevel::runs()
{
    QFETCH(int, triggerVolume);
    QFETCH(int, triggerLength);
    QFETCH(QList<quint32>, levels);
    QFETCH(QList<int>, raisingBlocks);
    QFETCH(int, finalCount);
    QFETCH(int, finalDetectionGauge);
    QFETCH(int, finalDurationGauge);

    MicrophoneMonitor monitor(m_engine);
    QList<int> raised;
    MicrophoneMonitor::LevelResult last{false, -1, -1};
    for (int i = 0; i < levels.size(); ++i) {
        last = monitor.CheckLevel(levels.at(i), triggerVolume, triggerLength);
        if (last.triggered)
            raised.append(i + 1);
    }
    QCOMPARE(raised, raisingBlocks);
    QCOMPARE(monitor.count(), finalCount);
    QCOMPARE(last.detectionGauge, finalDetectionGauge);
    QCOMPARE(last.durationGauge, finalDurationGauge);
    QCOMPARE(monitor.ledLit(), !raisingBlocks.isEmpty());
}

void TestCheckLevel::ledStaysLitFromFirstTrigger()
{
    MicrophoneMonitor monitor(m_engine);
    QSignalSpy led(&monitor, &MicrophoneMonitor::ledChanged);
    QVERIFY(!monitor.ledLit());

    QVERIFY(monitor.CheckLevel(Stereo(60, 60), 50, 0).triggered);
    QVERIFY(monitor.ledLit());
    QVERIFY(monitor.TimLedMic.isActive());
    // No event processing here, so the timer cannot have fired in between.
    QThread::msleep(120);
    QVERIFY(monitor.CheckLevel(Stereo(60, 60), 50, 0).triggered);
    QVERIFY2(monitor.TimLedMic.remainingTime() <= 200, "a second trigger restarted the LED timer");

    QTRY_VERIFY(!monitor.ledLit());
    QCOMPARE(led.count(), 2);
    QCOMPARE(led.at(0).at(0).toBool(), true);
    QCOMPARE(led.at(1).at(0).toBool(), false);
    QVERIFY(!monitor.TimLedMic.isActive());
}

void TestCheckLevel::stopRecordingClearsCountOnly()
{
    MicrophoneMonitor monitor(m_engine);
    QSignalSpy stopped(&monitor, &MicrophoneMonitor::recordingStopped);
    monitor.CheckLevel(Stereo(700, 10), 50, 50);
    monitor.CheckLevel(Stereo(700, 10), 50, 50);
    QCOMPARE(monitor.count(), 2);

    monitor.StopRecording();
    QCOMPARE(monitor.count(), 0);
    QCOMPARE(monitor.currentLevel(), 700u);
    QCOMPARE(stopped.count(), 1);
    QVERIFY(!monitor.isRecording());
}

void TestCheckLevel::nothingSelectedStartsNothing()
{
    MicrophoneMonitor monitor(m_engine);
    monitor.cmbRecSourceChange(-1);
    QCOMPARE(monitor.selectedInput(), -1);
    QVERIFY(monitor.StartRecording());
    QVERIFY(!monitor.isRecording());
    QCOMPARE(monitor.recordingHandle(), audio::Handle(0));
}

void TestCheckLevel::inputSelection_data()
{
    using namespace audio::InputFlag;
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<quint32>>("settings");
    QTest::addColumn<int>("expected");

    const quint32 line = 0x02000000;
    QTest::newRow("first and third on: the last enabled wins")
        << QStringList{"Line", "Mic", "CD"} << QList<quint32>{line | 40, Off | TypeMicrophone, 70}
        << 2;
    QTest::newRow("all off: the first microphone type")
        << QStringList{"Line", "Mic A", "Mic B"}
        << QList<quint32>{Off | line, Off | TypeMicrophone, Off | TypeMicrophone} << 1;
    QTest::newRow("all off, no microphone type: by name, any case")
        << QStringList{"Line", "mIcRoPhOnE", "Microphone"}
        << QList<quint32>{Off | line, Off | line, Off | line} << 1;
    QTest::newRow("a name that only contains Microphone does not fit")
        << QStringList{"Microphone 2", "Line"} << QList<quint32>{Off, Off} << -1;
    QTest::newRow("unreadable setting is neither on nor a microphone")
        << QStringList{"Default"} << QList<quint32>{Invalid} << -1;
    QTest::newRow("unreadable setting, but named Microphone")
        << QStringList{"Line", "Microphone"} << QList<quint32>{Invalid, Invalid} << 1;
    QTest::newRow("one default input, on") << QStringList{"Default"} << QList<quint32>{100u} << 0;
    QTest::newRow("no inputs") << QStringList{} << QList<quint32>{} << -1;
}

void TestCheckLevel::inputSelection()
{
    QFETCH(QStringList, names);
    QFETCH(QList<quint32>, settings);
    QFETCH(int, expected);
    QCOMPARE(MicrophoneMonitor::ChooseInput(names, settings), expected);
}

TARVO_TEST_MAIN(TestCheckLevel)
#include "tst_checklevel.moc"
