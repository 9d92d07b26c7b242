// The mouse monitor through its pointer seam: tolerance edges on both axes,
// sample-to-sample measurement, the re-read reference, the LED and the timer.

#include "common/TestMain.h"
#include "detect/MouseMonitor.h"

#include <QSignalSpy>
#include <QThread>

class TestMouseMonitor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void samples_data();
    void samples();
    void referenceIsReadAfterTheSample();
    void detectionComesBeforeTheLed();
    void timerSamplesWithCurrentSensitivity();
};

void TestMouseMonitor::samples_data()
{
    QTest::addColumn<int>("sensitivity");
    QTest::addColumn<QPoint>("start");
    QTest::addColumn<QList<QPoint>>("positions"); // one per sample
    QTest::addColumn<QList<bool>>("detections");

    const QPoint origin(500, 500);
    QTest::newRow("t50: +50 x ignored")
        << 50 << origin << QList<QPoint>{{550, 500}} << QList<bool>{false};
    QTest::newRow("t50: -50 x ignored")
        << 50 << origin << QList<QPoint>{{450, 500}} << QList<bool>{false};
    QTest::newRow("t50: +50 y ignored")
        << 50 << origin << QList<QPoint>{{500, 550}} << QList<bool>{false};
    QTest::newRow("t50: -50 y ignored")
        << 50 << origin << QList<QPoint>{{500, 450}} << QList<bool>{false};
    QTest::newRow("t50: 50 on both axes ignored")
        << 50 << origin << QList<QPoint>{{550, 450}} << QList<bool>{false};
    QTest::newRow("t50: +51 x raises")
        << 50 << origin << QList<QPoint>{{551, 500}} << QList<bool>{true};
    QTest::newRow("t50: -51 x raises")
        << 50 << origin << QList<QPoint>{{449, 500}} << QList<bool>{true};
    QTest::newRow("t50: +51 y raises")
        << 50 << origin << QList<QPoint>{{500, 551}} << QList<bool>{true};
    QTest::newRow("t50: -51 y raises")
        << 50 << origin << QList<QPoint>{{500, 449}} << QList<bool>{true};
    QTest::newRow("t0: one pixel raises")
        << 100 << origin << QList<QPoint>{{500, 501}} << QList<bool>{true};
    QTest::newRow("t0: still pointer stays quiet")
        << 100 << origin << QList<QPoint>{origin} << QList<bool>{false};
    QTest::newRow("t100: jump of 101 raises")
        << 0 << origin << QList<QPoint>{{601, 500}} << QList<bool>{true};
    QTest::newRow("t100: jump of 100 ignored")
        << 0 << origin << QList<QPoint>{{500, 400}} << QList<bool>{false};

    QList<QPoint> drag;
    for (int i = 1; i <= 12; ++i)
        drag.append(origin + QPoint(100 * i, -100 * i));
    QTest::newRow("t100: slow drag of 100 px per sample never raises")
        << 0 << origin << drag << QList<bool>(drag.size(), false);

    QTest::newRow("no movement never raises")
        << 0 << origin << QList<QPoint>(40, origin) << QList<bool>(40, false);
    QTest::newRow("one jump raises once")
        << 50 << origin << QList<QPoint>{{900, 500}, {900, 500}, {900, 500}}
        << QList<bool>{true, false, false};
    QTest::newRow("measured from the previous sample, not from the start")
        << 50 << origin << QList<QPoint>{{540, 500}, {580, 500}, {620, 500}, {700, 500}}
        << QList<bool>{false, false, false, true};
    QTest::newRow("negative coordinates of a left-hand screen")
        << 50 << QPoint(-1900, -20) << QList<QPoint>{{-1950, -20}, {-2001, -20}}
        << QList<bool>{false, true};
    QTest::newRow("far ends of the coordinate range do not wrap")
        << 50 << QPoint(INT_MIN, 0) << QList<QPoint>{{INT_MAX, 0}} << QList<bool>{true};
}

void TestMouseMonitor::samples()
{
    QFETCH(int, sensitivity);
    QFETCH(QPoint, start);
    QFETCH(QList<QPoint>, positions);
    QFETCH(QList<bool>, detections);

    QPoint pointer = start;
    MouseMonitor monitor;
    monitor.setPointerSource([&pointer] { return pointer; });
    monitor.TakeReference();
    QCOMPARE(monitor.reference(), start);

    QSignalSpy detected(&monitor, &MouseMonitor::detected);
    QList<bool> seen;
    for (const QPoint &position : positions) {
        pointer = position;
        seen.append(monitor.TimDetectMouseTimer(sensitivity));
        QCOMPARE(monitor.reference(), position);
    }
    QCOMPARE(seen, detections);
    QCOMPARE(detected.count(), int(detections.count(true)));
    QCOMPARE(monitor.ledLit(), detections.contains(true));
}

void TestMouseMonitor::referenceIsReadAfterTheSample()
{
    // The pointer goes on moving while the detection is handled; the next
    // sample compares with where it was after that, not before.
    QList<QPoint> reads{{0, 0}, {100, 0}, {130, 0}, {160, 0}, {190, 0}};
    MouseMonitor monitor;
    monitor.setPointerSource([&reads] { return reads.takeFirst(); });
    monitor.TakeReference();
    QVERIFY(monitor.TimDetectMouseTimer(50));
    QCOMPARE(monitor.reference(), QPoint(130, 0));
    QVERIFY(!monitor.TimDetectMouseTimer(50)); // 160 against 130
}

void TestMouseMonitor::detectionComesBeforeTheLed()
{
    QPoint pointer(0, 0);
    MouseMonitor monitor;
    monitor.setPointerSource([&pointer] { return pointer; });
    monitor.TakeReference();

    QStringList order;
    connect(&monitor, &MouseMonitor::detected, this, [&] { order << QStringLiteral("detected"); });
    connect(&monitor, &MouseMonitor::ledChanged, this,
            [&](bool lit) { order << (lit ? QStringLiteral("lit") : QStringLiteral("idle")); });

    pointer = {200, 0};
    QVERIFY(monitor.TimDetectMouseTimer(50));
    QVERIFY(monitor.TimLedMou.isActive());
    QThread::msleep(120);
    pointer = {400, 0};
    QVERIFY(monitor.TimDetectMouseTimer(50));
    QVERIFY2(monitor.TimLedMou.remainingTime() <= 200, "a second detection restarted the LED");
    QTRY_VERIFY(!monitor.ledLit());
    QCOMPARE(order, (QStringList{"detected", "lit", "detected", "idle"}));
}

void TestMouseMonitor::timerSamplesWithCurrentSensitivity()
{
    QPoint pointer(10, 10);
    int sensitivity = 0;
    MouseMonitor monitor;
    monitor.setPointerSource([&pointer] { return pointer; });
    monitor.setSensitivitySource([&sensitivity] { return sensitivity; });
    monitor.TakeReference();
    QSignalSpy detected(&monitor, &MouseMonitor::detected);

    monitor.Start();
    QVERIFY(monitor.isRunning());
    QCOMPARE(monitor.TimDetectMouse.interval(), 250);
    pointer = {60, 10}; // 50 px: quiet at tolerance 100
    QTest::qWait(600);
    QCOMPARE(detected.count(), 0);

    sensitivity = 60; // tolerance 40
    pointer = {110, 10};
    QTRY_COMPARE(detected.count(), 1);

    monitor.Stop();
    QVERIFY(!monitor.isRunning());
    pointer = {900, 900};
    QTest::qWait(600);
    QCOMPARE(detected.count(), 1);
}

TARVO_TEST_MAIN(TestMouseMonitor)
#include "tst_mousemonitor.moc"
