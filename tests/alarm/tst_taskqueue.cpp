#include "alarm/TaskQueue.h"
#include "common/TestMain.h"

#include <QRandomGenerator>

namespace {
// Always the smallest or the largest allowed draw, and a record of every n.
struct FakeRandom
{
    bool largest = false;
    QList<quint32> asked;
    RandomBelow function()
    {
        return [this](quint32 n) {
            asked.append(n);
            return (n == 0 || !largest) ? 0u : n - 1;
        };
    }
};

TaskQueue QueueOf(int records)
{
    TaskQueue queue;
    for (int i = 0; i < records; ++i)
        queue.append(TaskQueue::MakeRecord(0, 0, 0));
    return queue;
}
} // namespace

class TestTaskQueue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void zeroPad_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QString>("expected");
        QTest::newRow("5") << 5 << 2 << QStringLiteral("005");
        QTest::newRow("12") << 12 << 2 << QStringLiteral("012");
        QTest::newRow("0") << 0 << 2 << QStringLiteral("000");
        QTest::newRow("999") << 999 << 2 << QStringLiteral("999");
        QTest::newRow("1234 not cut") << 1234 << 2 << QStringLiteral("1234");
        QTest::newRow("7 with 3") << 7 << 3 << QStringLiteral("0007");
        QTest::newRow("0 with 0") << 0 << 0 << QStringLiteral("0");
    }
    void zeroPad()
    {
        QFETCH(int, value);
        QFETCH(int, digits);
        QFETCH(QString, expected);
        QCOMPARE(ZeroPad(value, digits), expected);
    }

    void recordFormat()
    {
        QCOMPARE(TaskQueue::MakeRecord(7, 42, 2), QStringLiteral("DTC007000042000002"));
        QCOMPARE(TaskQueue::MakeRecord(999, 999, 0), QStringLiteral("DTC999000999000000"));
        const auto parsed = TaskQueue::ParseRecord(QStringLiteral("DTC007000042000002"));
        QVERIFY(parsed);
        QCOMPARE(parsed->soundIndex, 7);
        QCOMPARE(parsed->slot, 0);
        QCOMPARE(parsed->speaker, 2);
    }

    void parseRefuses_data()
    {
        QTest::addColumn<QString>("record");
        QTest::newRow("empty") << QString();
        QTest::newRow("marker") << QStringLiteral("XTC007000042000002");
        QTest::newRow("lower marker") << QStringLiteral("dtc007000042000002");
        QTest::newRow("short") << QStringLiteral("DTC00700004200000");
        QTest::newRow("long") << QStringLiteral("DTC0070000420000020");
        QTest::newRow("letter") << QStringLiteral("DTC0a7000042000002");
        QTest::newRow("sign") << QStringLiteral("DTC-07000042000002");
        QTest::newRow("space") << QStringLiteral("DTC 07000042000002");
    }
    void parseRefuses()
    {
        QFETCH(QString, record);
        QVERIFY(!TaskQueue::ParseRecord(record));
    }

    void runLength_data()
    {
        QTest::addColumn<int>("persistence");
        QTest::addColumn<int>("persistenceRandom");
        QTest::addColumn<bool>("largest");
        QTest::addColumn<int>("expected");
        QTest::newRow("both 0") << 0 << 0 << true << 1;
        QTest::newRow("defaults, least") << 50 << 50 << false << 51;
        QTest::newRow("defaults, most") << 50 << 50 << true << 100;
        QTest::newRow("100/100, least") << 100 << 100 << false << 101;
        QTest::newRow("100/100, most") << 100 << 100 << true << 200;
        QTest::newRow("random 1 adds nothing") << 3 << 1 << true << 4;
    }
    void runLength()
    {
        QFETCH(int, persistence);
        QFETCH(int, persistenceRandom);
        QFETCH(bool, largest);
        QFETCH(int, expected);
        FakeRandom random{largest, {}};
        TaskQueue queue;
        queue.AddTask(5, persistence, persistenceRandom, random.function());
        QCOMPARE(queue.count(), expected);
        // The run length is drawn first, then sound, number and speaker of
        // every record in turn.
        QCOMPARE(random.asked.size(), 1 + 3 * expected);
        QCOMPARE(random.asked.first(), quint32(persistenceRandom));
        QCOMPARE(random.asked.mid(1, 3), (QList<quint32>{5, 1000, 3}));
    }

    void recordsAreWellFormed()
    {
        QRandomGenerator generator(20261206);
        const RandomBelow random = [&generator](quint32 n) {
            return n == 0 ? 0u : generator.bounded(n);
        };
        for (int trigger = 0; trigger < 50; ++trigger) {
            TaskQueue queue;
            queue.AddTask(7, 100, 100, random);
            QVERIFY(queue.count() >= 101 && queue.count() <= 200);
            for (const QString &record : queue.records()) {
                QCOMPARE(record.size(), 18);
                QVERIFY(record.startsWith(QLatin1String("DTC")));
                QCOMPARE(record.mid(6, 3), QStringLiteral("000"));
                QCOMPARE(record.mid(12, 3), QStringLiteral("000"));
                const auto parsed = TaskQueue::ParseRecord(record);
                QVERIFY(parsed);
                QVERIFY(parsed->soundIndex < 7);
                QVERIFY(parsed->speaker >= 0 && parsed->speaker <= 2);
            }
        }
    }

    void singleSoundIsAlwaysIndexZero()
    {
        FakeRandom random{true, {}};
        TaskQueue queue;
        queue.AddTask(1, 10, 10, random.function());
        for (const QString &record : queue.records())
            QCOMPARE(record.mid(3, 3), QStringLiteral("000"));
    }

    void limit_data()
    {
        QTest::addColumn<int>("queued");
        QTest::addColumn<int>("checked");
        QTest::addColumn<int>("expected");
        QTest::newRow("999 accepts a whole run") << 999 << 3 << 999 + 100;
        QTest::newRow("1000 refuses") << 1000 << 3 << 1000;
        QTest::newRow("1100 refuses") << 1100 << 3 << 1100;
        QTest::newRow("no checked sounds") << 0 << 0 << 0;
        QTest::newRow("more sounds than the list allows") << 0 << 5000 << 100;
    }
    void limit()
    {
        QFETCH(int, queued);
        QFETCH(int, checked);
        QFETCH(int, expected);
        FakeRandom random{true, {}};
        TaskQueue queue = QueueOf(queued);
        queue.AddTask(checked, 50, 50, random.function());
        QCOMPARE(queue.count(), expected);
        for (const QString &record : queue.records())
            QCOMPARE(record.size(), 18);
    }
};

TARVO_TEST_MAIN(TestTaskQueue)
#include "tst_taskqueue.moc"
