// The audio engine's worker thread: it goes round while its work says more
// is to come, ends by itself when idle and is started again by a poke; a
// poke wakes it before its tick; stop() ends it also while busy.

#include "audio/IdleThread.h"
#include "common/TestMain.h"
#include "common/Threads.h"

#include <QElapsedTimer>
#include <atomic>

using namespace std::chrono_literals;

namespace {
const QString Name = QStringLiteral("tst-idle");
bool running()
{
    return tarvo::test::threads().values().contains(Name);
}
} // namespace

class TestIdleThread : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // busyRounds: how many rounds say more is to come before one is idle.
    void endsWhenIdle_data()
    {
        QTest::addColumn<int>("busyRounds");
        QTest::newRow("idle at once") << 0;
        QTest::newRow("three busy rounds") << 3;
    }
    void endsWhenIdle()
    {
        QFETCH(int, busyRounds);
        std::atomic<int> rounds{0};
        std::atomic<int> busyLeft{busyRounds};
        audio::IdleThread thread("tst-idle", 10ms, [&] {
            ++rounds;
            return busyLeft.fetch_sub(1) > 0;
        });
        QVERIFY(!running());
        thread.poke();
        QTRY_COMPARE(rounds.load(), busyRounds + 1);
        QTRY_VERIFY(!running());
        QTest::qWait(100);
        QCOMPARE(rounds.load(), busyRounds + 1); // no round without a poke

        thread.poke(); // joins the ended thread and starts a new one
        QTRY_COMPARE(rounds.load(), busyRounds + 2);
        QTRY_VERIFY(!running());
    }

    void pokeWakesBeforeTheTick()
    {
        std::atomic<int> rounds{0};
        audio::IdleThread thread("tst-idle", 60s, [&] { return ++rounds > 0; }); // always busy
        thread.poke();
        QTRY_COMPARE(rounds.load(), 1);
        thread.poke();
        QTRY_COMPARE_WITH_TIMEOUT(rounds.load(), 2, 2000);
        QElapsedTimer timer;
        timer.start();
        thread.stop();
        QVERIFY(timer.elapsed() < 2000 && !running()); // not a tick's wait
        thread.poke();                                 // stopped is not gone for good
        QTRY_COMPARE(rounds.load(), 3);
    }
};

TARVO_TEST_MAIN(TestIdleThread)
#include "tst_idlethread.moc"
