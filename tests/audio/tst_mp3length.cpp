// MP3 files play to their real end, whatever their header promises: a VBR
// file without a Xing/Info header gives libsndfile only an estimate of its
// length, taken from its first frames.

#include "audio/AudioEngine.h"
#include "audio/TestSounds.h"
#include "common/TestMain.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <sndfile.h>

using audio::AudioEngine;
using audio::Handle;

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 30;

// Frames the engine plays before the stream ends (offline, no device).
qint64 playedFrames(const QString &path)
{
    AudioEngine engine;
    const Handle stream = engine.createFileStream(path, 0);
    if (stream == 0 || !engine.play(stream))
        return -1;
    std::vector<qint16> chunk(4096 * 2);
    qint64 frames = 0;
    while (engine.isActive(stream) && frames < qint64(kRate) * kSeconds * 3) {
        engine.renderOutput(chunk.data(), 4096);
        frames += 4096;
    }
    return frames;
}

qint64 libsndfileFrames(const QString &path)
{
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return -1;
    sf_close(file);
    return info.frames;
}

} // namespace

class TestMp3Length : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_wav;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        if (QStandardPaths::findExecutable(QStringLiteral("lame")).isEmpty())
            QSKIP("lame is not installed (scripts/install-deps.sh --with-test-tools)");
        // Loud noise first, then a near-silent tone: the first frames need a
        // high bit rate, the rest a low one, so an estimate from the start
        // falls far short.
        m_wav = m_dir.filePath(QStringLiteral("source.wav"));
        QRandomGenerator random(7);
        QVERIFY(tarvo::test::writeWav(m_wav, kRate, 2, kRate * kSeconds, [&](int f, int) {
            if (f < kRate * 4)
                return float(random.generateDouble() * 1.6 - 0.8);
            return 0.001f * float(std::sin(f * 0.0627));
        }));
    }

    void playsToTheRealEnd_data()
    {
        QTest::addColumn<QStringList>("lameArguments");
        QTest::addColumn<bool>("estimateIsShort");
        QTest::newRow("VBR without Xing header")
            << QStringList{QStringLiteral("-V"), QStringLiteral("4"), QStringLiteral("-t")} << true;
        QTest::newRow("VBR with Xing header")
            << QStringList{QStringLiteral("-V"), QStringLiteral("4")} << false;
        QTest::newRow("CBR") << QStringList{QStringLiteral("-b"), QStringLiteral("128")} << false;
    }

    void playsToTheRealEnd()
    {
        QFETCH(QStringList, lameArguments);
        QFETCH(bool, estimateIsShort);
        const QString mp3 =
            m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".mp3"));
        QProcess lame;
        lame.start(QStringLiteral("lame"),
                   QStringList{QStringLiteral("--quiet"), QStringLiteral("--noreplaygain")} +
                       lameArguments + QStringList{m_wav, mp3});
        QVERIFY(lame.waitForFinished(120000));
        QCOMPARE(lame.exitCode(), 0);

        const qint64 real = qint64(kRate) * kSeconds;
        const qint64 estimate = libsndfileFrames(mp3);
        QVERIFY(estimate > 0);
        // The file is what this test means it to be.
        QCOMPARE(estimate < real * 9 / 10, estimateIsShort);

        const qint64 played = playedFrames(mp3);
        // Encoder delay and padding add a frame or two of 1152 samples; the
        // render runs in chunks of 4096.
        QVERIFY2(played >= real - 4096 && played <= real + 3 * 1152 + 4096,
                 qPrintable(QStringLiteral("played %1 of %2 frames (estimate %3)")
                                .arg(played)
                                .arg(real)
                                .arg(estimate)));
    }
};

TARVO_TEST_MAIN(TestMp3Length)
#include "tst_mp3length.moc"
