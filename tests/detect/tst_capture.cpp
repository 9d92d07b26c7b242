// The real capture path: SDL's disk driver plays a raw file the test writes
// into the audio engine, and the monitor must hand every block's level word
// to the user-interface thread in order, also while that thread is busy.

#include "common/TestMain.h"
#include "detect/MicrophoneMonitor.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <cstdlib>
#include <memory>

namespace {
constexpr int BlockFrames = 4410;

struct Block
{
    qint16 left;
    qint16 right;
};

quint32 Word(const Block &block)
{
    return quint32(std::abs(int(block.left))) | (quint32(std::abs(int(block.right))) << 16);
}

// Each block holds its peak once, in the middle, and quieter samples around
// it, so a word read from the wrong block or the wrong channel shows.
QByteArray RawBlocks(const QList<Block> &blocks)
{
    QByteArray raw;
    raw.reserve(blocks.size() * BlockFrames * 4);
    for (const Block &block : blocks) {
        for (int i = 0; i < BlockFrames; ++i) {
            const bool peak = i == BlockFrames / 2;
            const qint16 frame[2] = {qint16(peak ? block.left : block.left / 2),
                                     qint16(peak ? block.right : block.right / 2)};
            raw.append(reinterpret_cast<const char *>(frame), sizeof frame);
        }
    }
    return raw;
}

// Block k: left k + 1, right 20000 - k; a run no two blocks of which agree.
QList<Block> Numbered(int count)
{
    QList<Block> blocks;
    for (int k = 0; k < count; ++k)
        blocks.append({qint16(k + 1), qint16(-(20000 - k))});
    return blocks;
}

// Consecutive within the numbered run, or silence once the file is used up.
bool FollowsInRun(quint32 previous, quint32 next)
{
    return next == 0 || (next & 0xFFFF) == (previous & 0xFFFF) + 1;
}
} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void blocksArriveInOrder();
    void floodWhileBusyIsKeptInOrder();
    void nestedLoopGoesOnInOrder();
    void overflowDropsOldest();
    void quietBlocksComeInPairs();
    void unopenableDeviceFailsToStart();
    void captureEndingOnItsOwnIsNoticed();

private:
    void Feed(const QList<Block> &blocks, int delayMs);
    QTemporaryDir m_folder;
    std::unique_ptr<audio::AudioEngine> m_engine;
    std::unique_ptr<MicrophoneMonitor> m_monitor;
};

void TestCapture::initTestCase()
{
    QVERIFY(m_folder.isValid());
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_folder.filePath("out.raw")).constData(), 1);
    Feed({}, 2);
    m_engine = std::make_unique<audio::AudioEngine>();
    QVERIFY(m_engine->initCapture());
}

void TestCapture::init()
{
    m_monitor = std::make_unique<MicrophoneMonitor>(*m_engine);
    QVERIFY(m_monitor->SelectInput());
    m_monitor->cmbRecSourceChange(m_monitor->selectedInput());
    QCOMPARE(m_monitor->selectedInput(), 0);
}

void TestCapture::cleanup()
{
    m_monitor->StopRecording();
    QVERIFY(!m_monitor->isRecording());
    m_monitor.reset();
}

void TestCapture::Feed(const QList<Block> &blocks, int delayMs)
{
    const QString path = m_folder.filePath("in.raw");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(RawBlocks(blocks)), qint64(blocks.size()) * BlockFrames * 4);
    file.close();
    // Read when the capture device opens.
    ::setenv("SDL_DISKAUDIOFILEIN", QFile::encodeName(path).constData(), 1);
    ::setenv("SDL_DISKAUDIODELAY", QByteArray::number(delayMs).constData(), 1);
}

void TestCapture::blocksArriveInOrder()
{
    const QList<Block> blocks{{0, 0},        {0, 0},    {0, 0},          {1000, -1500},
                              {-2000, 3000}, {3000, 1}, {-32768, 32767}, {0, 120},
                              {0, 0},        {0, 0},    {0, 0}};
    Feed(blocks, 5);
    QSignalSpy levels(m_monitor.get(), &MicrophoneMonitor::levelReceived);
    QVERIFY(m_monitor->StartRecording());
    QVERIFY(m_monitor->isRecording());
    QTRY_VERIFY_WITH_TIMEOUT(levels.count() >= blocks.size() + 3, 10000);
    m_monitor->StopRecording();

    for (int i = 0; i < blocks.size(); ++i)
        QCOMPARE(levels.at(i).at(0).value<quint32>(), Word(blocks.at(i)));
    for (int i = blocks.size(); i < levels.count(); ++i)
        QCOMPARE(levels.at(i).at(0).value<quint32>(), 0u);

    // Nothing is delivered after the stop, not even what was still queued.
    const int delivered = levels.count();
    QTest::qWait(200);
    QCOMPARE(levels.count(), delivered);
    QVERIFY(!m_monitor->isRecording());
}

void TestCapture::floodWhileBusyIsKeptInOrder()
{
    const QList<Block> blocks = Numbered(300);
    Feed(blocks, 1);
    QList<quint32> words;
    connect(m_monitor.get(), &MicrophoneMonitor::levelReceived, this,
            [&words](quint32 level) { words.append(level); });
    QVERIFY(m_monitor->StartRecording());
    QTRY_VERIFY_WITH_TIMEOUT(!words.isEmpty(), 10000);

    QThread::msleep(300); // a handler hogging the user-interface thread
    QVERIFY2(m_monitor->pendingBlocks() > 10, "no flood built up; the test proves nothing");
    QTRY_VERIFY_WITH_TIMEOUT(words.size() >= blocks.size(), 10000);
    m_monitor->StopRecording();

    QCOMPARE(m_monitor->droppedBlocks(), quint64(0));
    for (int i = 0; i < blocks.size(); ++i)
        QCOMPARE(words.at(i), Word(blocks.at(i)));
}

void TestCapture::nestedLoopGoesOnInOrder()
{
    const QList<Block> blocks = Numbered(60);
    Feed(blocks, 2);
    QList<quint32> words;
    int deliveredInsideNestedLoop = 0;
    bool inNestedLoop = false;
    connect(m_monitor.get(), &MicrophoneMonitor::levelReceived, this, [&](quint32 level) {
        words.append(level);
        if (inNestedLoop)
            ++deliveredInsideNestedLoop;
        if (words.size() == 3) { // as a modal dialog opened by a handler would
            inNestedLoop = true;
            QEventLoop loop;
            QTimer::singleShot(300, &loop, &QEventLoop::quit);
            loop.exec();
            inNestedLoop = false;
        }
    });
    QVERIFY(m_monitor->StartRecording());
    QTRY_VERIFY_WITH_TIMEOUT(words.size() >= blocks.size(), 10000);
    m_monitor->StopRecording();

    QVERIFY(deliveredInsideNestedLoop > 0);
    for (int i = 0; i < blocks.size(); ++i)
        QCOMPARE(words.at(i), Word(blocks.at(i)));
}

void TestCapture::overflowDropsOldest()
{
    const QList<Block> blocks = Numbered(400);
    Feed(blocks, 1);
    m_monitor->setMaxPendingBlocks(20);
    QList<quint32> words;
    connect(m_monitor.get(), &MicrophoneMonitor::levelReceived, this,
            [&words](quint32 level) { words.append(level); });
    QVERIFY(m_monitor->StartRecording());
    QThread::msleep(200);
    QCOMPARE(m_monitor->pendingBlocks(), 20);
    const quint64 dropped = m_monitor->droppedBlocks();
    QVERIFY(dropped > 0);

    QTRY_VERIFY_WITH_TIMEOUT(words.size() >= 30, 10000);
    m_monitor->StopRecording();
    // The oldest went (more may have gone since the count was read); what
    // is left comes in order.
    QVERIFY(words.first() != 0);
    QVERIFY(quint64(words.first() & 0xFFFF) >= dropped + 1);
    for (int i = 1; i < words.size(); ++i)
        QVERIFY2(FollowsInRun(words.at(i - 1), words.at(i)),
                 qPrintable(QStringLiteral("block %1 out of order").arg(i)));
}

// A quiet block waits for the next before the window is woken; a block as
// loud as the trigger volume is handed over at once.
void TestCapture::quietBlocksComeInPairs()
{
    constexpr int Period = 1200; // ms per block, so that a held block shows
    const Block quiet{10, -10}, loud{20000, 20000};
    Feed({quiet, quiet, loud, quiet, quiet}, Period);
    QList<qint64> arrivals;
    QElapsedTimer clock;
    clock.start();
    connect(m_monitor.get(), &MicrophoneMonitor::levelReceived, this, [&](quint32 level) {
        arrivals.append(clock.elapsed());
        m_monitor->CheckLevel(level, 50, 50);
    });
    QVERIFY(m_monitor->StartRecording());
    m_monitor->CheckLevel(0, 50, 50); // the trigger volume, before the first block
    QTRY_VERIFY_WITH_TIMEOUT(arrivals.size() >= 5, 5 * Period + 5000);
    const auto together = [&](int a, int b) {
        return arrivals.at(b) - arrivals.at(a) < Period / 2;
    };
    QVERIFY2(together(0, 1), "two quiet blocks are handed over together");
    QVERIFY2(!together(1, 2), "the loud block did not wait for the quiet ones");
    QVERIFY2(!together(2, 3), "the loud block was handed over at once");
    QVERIFY2(together(3, 4), "and the quiet ones after it in a pair again");
}

void TestCapture::unopenableDeviceFailsToStart()
{
    ::setenv("SDL_DISKAUDIOFILEIN",
             QFile::encodeName(m_folder.filePath("missing/in.raw")).constData(), 1);
    QSignalSpy levels(m_monitor.get(), &MicrophoneMonitor::levelReceived);
    QVERIFY(!m_monitor->StartRecording());
    QVERIFY(!m_monitor->isRecording());
    QTest::qWait(100);
    QCOMPARE(levels.count(), 0);
}

void TestCapture::captureEndingOnItsOwnIsNoticed()
{
    Feed(Numbered(20), 5);
    QSignalSpy lost(m_monitor.get(), &MicrophoneMonitor::captureLost);
    QSignalSpy stopped(m_monitor.get(), &MicrophoneMonitor::recordingStopped);
    QVERIFY(m_monitor->StartRecording());
    m_monitor->CheckLevel(Word({1000, 1000}), 50, 50);
    // The engine ends the capture behind the monitor's back, as when the
    // device goes away.
    m_engine->stop(m_monitor->recordingHandle());
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 3000);
    QCOMPARE(stopped.count(), 1);
    QVERIFY(!m_monitor->isRecording());
    QCOMPARE(m_monitor->count(), 0);
    // And it starts again afterwards.
    Feed(Numbered(20), 5);
    QVERIFY(m_monitor->StartRecording());
    QVERIFY(m_monitor->isRecording());
}

TARVO_TEST_MAIN(TestCapture)
#include "tst_capture.moc"
