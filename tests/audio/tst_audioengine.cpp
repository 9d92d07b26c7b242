#include "audio/AudioEngine.h"
#include "audio/TestSounds.h"
#include "common/TestMain.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <vector>

using audio::AudioEngine;
using audio::Handle;
namespace StreamFlag = audio::StreamFlag;

namespace {

// Renders until the stream stops being active (or a limit), returning the
// interleaved stereo output.
std::vector<qint16> renderUntilEnded(AudioEngine &engine, Handle stream, int limitFrames)
{
    std::vector<qint16> out;
    std::vector<qint16> chunk(512 * 2);
    while (engine.isActive(stream) && int(out.size() / 2) < limitFrames) {
        engine.renderOutput(chunk.data(), 512);
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

// Rising crossings with hysteresis, so that resampler ringing around zero
// does not count.
int risingCrossings(const std::vector<qint16> &stereo, int channel, int threshold = 1000)
{
    int count = 0;
    bool low = false;
    for (std::size_t i = std::size_t(channel); i < stereo.size(); i += 2) {
        if (stereo[i] < -threshold)
            low = true;
        else if (low && stereo[i] > threshold) {
            ++count;
            low = false;
        }
    }
    return count;
}

int peak(const std::vector<qint16> &stereo, int channel, std::size_t fromFrame = 0)
{
    int result = 0;
    for (std::size_t i = fromFrame * 2 + std::size_t(channel); i < stereo.size(); i += 2)
        result = std::max(result, std::abs(int(stereo[i])));
    return result;
}

} // namespace

class TestAudioEngine : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(tarvo::test::writeTone(path("tone441.wav"), 44100, 44100, 441));
    }

    void versionNeedsRecentSdl() { QCOMPARE(AudioEngine::interfaceVersion(), quint32(2)); }

    void rateSetsPitchAndLength_data()
    {
        QTest::addColumn<int>("fileRate");
        QTest::addColumn<int>("fileFrames");
        QTest::addColumn<int>("cycles");
        QTest::addColumn<int>("playRate");

        QTest::newRow("own rate") << 44100 << 44100 << 441 << 44100;
        QTest::newRow("octave down") << 44100 << 44100 << 441 << 22050;
        QTest::newRow("octave up") << 44100 << 44100 << 441 << 88200;
        QTest::newRow("altered 44061") << 44100 << 44100 << 441 << 44061;
        QTest::newRow("upper limit") << 44100 << 44100 << 441 << 100000;
        QTest::newRow("22050 Hz file at 44100") << 22050 << 22050 << 100 << 44100;
        QTest::newRow("lowest rate 100") << 8000 << 100 << 5 << 100;
    }

    void rateSetsPitchAndLength()
    {
        QFETCH(int, fileRate);
        QFETCH(int, fileFrames);
        QFETCH(int, cycles);
        QFETCH(int, playRate);
        const QString file = path(QStringLiteral("rate_%1_%2.wav").arg(fileRate).arg(fileFrames));
        QVERIFY(tarvo::test::writeTone(file, fileRate, fileFrames, cycles));

        AudioEngine engine;
        const Handle stream = engine.createFileStream(file, 0);
        QVERIFY(stream != 0);
        QCOMPARE(engine.defaultRate(stream), quint32(fileRate));
        QVERIFY(engine.setAttributes(stream, playRate, 100, 0));
        QVERIFY(engine.play(stream));
        const auto out = renderUntilEnded(engine, stream, 10 * 44100);
        QVERIFY(!engine.isActive(stream));

        // Every cycle of the file is heard, stretched to the played length:
        // playing F source frames a second.
        const double expectedFrames = double(fileFrames) * 44100.0 / playRate;
        const double renderedFrames = double(out.size() / 2);
        QVERIFY2(std::abs(renderedFrames - expectedFrames) < expectedFrames * 0.02 + 1024,
                 qPrintable(QStringLiteral("rendered %1 frames, expected %2")
                                .arg(renderedFrames)
                                .arg(expectedFrames)));
        QVERIFY(std::abs(risingCrossings(out, 0) - cycles) <= 1);
        QVERIFY(std::abs(risingCrossings(out, 1) - cycles) <= 1);
    }

    void volumeAndPanSetChannelGains_data()
    {
        QTest::addColumn<int>("volume");
        QTest::addColumn<int>("pan");
        QTest::addColumn<double>("leftGain");
        QTest::addColumn<double>("rightGain");

        QTest::newRow("right speaker") << 100 << 100 << 0.0 << 1.0;
        QTest::newRow("both speakers") << 100 << 0 << 1.0 << 1.0;
        QTest::newRow("left speaker") << 100 << -100 << 1.0 << 0.0;
        QTest::newRow("half right") << 100 << 50 << 0.5 << 1.0;
        QTest::newRow("quarter left") << 100 << -25 << 1.0 << 0.75;
        QTest::newRow("half volume") << 50 << 0 << 0.5 << 0.5;
        QTest::newRow("quiet right") << 20 << 100 << 0.0 << 0.2;
        QTest::newRow("muted") << 0 << 0 << 0.0 << 0.0;
        QTest::newRow("out of range clamped") << 250 << -400 << 1.0 << 0.0;
    }

    void volumeAndPanSetChannelGains()
    {
        QFETCH(int, volume);
        QFETCH(int, pan);
        QFETCH(double, leftGain);
        QFETCH(double, rightGain);

        AudioEngine engine;
        const Handle stream = engine.createFileStream(path("tone441.wav"), 0);
        QVERIFY(stream != 0);
        QVERIFY(engine.setAttributes(stream, 44100, volume, pan));
        QVERIFY(engine.play(stream));
        std::vector<qint16> out(22050 * 2);
        engine.renderOutput(out.data(), 22050);

        const double full = 0.5 * 32768.0; // the tone's amplitude
        QVERIFY(std::abs(peak(out, 0, 1000) - leftGain * full) <= 0.02 * full);
        QVERIFY(std::abs(peak(out, 1, 1000) - rightGain * full) <= 0.02 * full);
    }

    void channelsMapToStereo_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<double>("leftLevel");
        QTest::addColumn<double>("rightLevel");

        // Channel c of the file carries a constant 0.1 * (c + 1).
        QTest::newRow("mono on both") << 1 << 0.1 << 0.1;
        QTest::newRow("stereo kept") << 2 << 0.1 << 0.2;
        QTest::newRow("first two of four") << 4 << 0.1 << 0.2;
    }

    void channelsMapToStereo()
    {
        QFETCH(int, channels);
        QFETCH(double, leftLevel);
        QFETCH(double, rightLevel);
        const QString file = path(QStringLiteral("channels%1.wav").arg(channels));
        QVERIFY(tarvo::test::writeWav(file, 44100, channels, 8820,
                                      [](int, int c) { return 0.1f * float(c + 1); }));
        AudioEngine engine;
        const Handle stream = engine.createFileStream(file, 0);
        QVERIFY(stream != 0);
        QVERIFY(engine.play(stream));
        std::vector<qint16> out(4096 * 2);
        engine.renderOutput(out.data(), 4096);
        // Past the resampler's start-up, the levels stand still.
        QVERIFY(std::abs(out[3000 * 2] - leftLevel * 32768.0) < 100);
        QVERIFY(std::abs(out[3000 * 2 + 1] - rightLevel * 32768.0) < 100);
    }

    void fourStreamsSaturate_data()
    {
        QTest::addColumn<float>("level");
        QTest::addColumn<int>("expected");

        QTest::newRow("sum fits") << 0.2f << 26214;
        QTest::newRow("positive overload clips") << 0.9f << 32767;
        QTest::newRow("negative overload clips") << -0.9f << -32768;
    }

    void fourStreamsSaturate()
    {
        QFETCH(float, level);
        QFETCH(int, expected);
        const QString file = path(QStringLiteral("dc_%1.wav").arg(double(level)));
        QVERIFY(tarvo::test::writeWav(file, 44100, 1, 22050, [=](int, int) { return level; }));

        AudioEngine engine;
        for (quint32 pair :
             {StreamFlag::Front, StreamFlag::Rear, StreamFlag::CenterLfe, StreamFlag::Rear2}) {
            const Handle stream = engine.createFileStream(file, pair);
            QVERIFY(stream != 0);
            QVERIFY(engine.play(stream));
        }
        std::vector<qint16> out(16384 * 2);
        engine.renderOutput(out.data(), 16384);
        for (std::size_t i = 2000 * 2; i < out.size(); ++i)
            QVERIFY2(std::abs(out[i] - expected) <= 2,
                     qPrintable(QStringLiteral("sample %1 is %2").arg(i).arg(out[i])));
    }

    void endedStreamIsFreedWhenAsked_data()
    {
        QTest::addColumn<bool>("freeWhenEnded");
        QTest::newRow("free when ended") << true;
        QTest::newRow("kept") << false;
    }

    void endedStreamIsFreedWhenAsked()
    {
        QFETCH(bool, freeWhenEnded);
        const QString file = path("short.wav");
        QVERIFY(tarvo::test::writeTone(file, 44100, 2205, 22));
        AudioEngine engine;
        const Handle stream =
            engine.createFileStream(file, freeWhenEnded ? StreamFlag::FreeWhenEnded : 0);
        QVERIFY(stream != 0);
        QVERIFY(!engine.isActive(stream)); // made, not yet playing
        QVERIFY(engine.play(stream));
        QVERIFY(engine.isActive(stream));
        const auto out = renderUntilEnded(engine, stream, 44100);
        QVERIFY(out.size() / 2 < 44100);
        QVERIFY(!engine.isActive(stream));

        // Freed by the engine: nothing more is known about the handle.
        QCOMPARE(engine.defaultRate(stream) != 0, !freeWhenEnded);
        QCOMPARE(engine.freeStream(stream), !freeWhenEnded);
        QCOMPARE(engine.defaultRate(stream), quint32(0));
        QVERIFY(!engine.play(stream));
        QVERIFY(!engine.setAttributes(stream, 44100, 100, 0));
    }

    void staleHandlesAreHarmless()
    {
        AudioEngine engine;
        const Handle stream = engine.createFileStream(path("tone441.wav"), 0);
        QVERIFY(stream != 0);
        QVERIFY(engine.freeStream(stream));
        for (Handle handle : {Handle(0), stream, Handle(0xFFFFFFF0)}) {
            QVERIFY(!engine.isActive(handle));
            QVERIFY(!engine.stop(handle));
            QVERIFY(!engine.freeStream(handle));
            QVERIFY(!engine.play(handle));
            QCOMPARE(engine.defaultRate(handle), quint32(0));
            QCOMPARE(engine.captureLevel(handle), quint32(0));
        }
        // Stopping a stream made to free itself frees it as well.
        const Handle autoFree =
            engine.createFileStream(path("tone441.wav"), StreamFlag::FreeWhenEnded);
        QVERIFY(engine.play(autoFree));
        QVERIFY(engine.stop(autoFree));
        QVERIFY(!engine.isActive(autoFree));
        QVERIFY(!engine.freeStream(autoFree));
    }

    void handlesAreNeverReused()
    {
        std::set<Handle> seen;
        for (int round = 0; round < 2; ++round) {
            AudioEngine engine;
            for (int i = 0; i < 50; ++i) {
                const Handle stream = engine.createFileStream(path("tone441.wav"), 0);
                QVERIFY(stream != 0);
                QVERIFY2(seen.insert(stream).second, "a handle came back");
                if (i % 2 == 0)
                    QVERIFY(engine.freeStream(stream));
            }
        }
    }

    void badFilesGiveNoStream_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");

        QByteArray valid;
        {
            const QString file = path("valid_source.wav");
            QVERIFY(tarvo::test::writeTone(file, 44100, 441, 10));
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadOnly));
            valid = f.readAll();
        }
        auto randomBytes = [](quint32 seed, int size) {
            QByteArray bytes(size, Qt::Uninitialized);
            QRandomGenerator generator(seed);
            for (char &c : bytes)
                c = char(generator.bounded(256));
            return bytes;
        };
        // A header with a patched 16-bit field of the "fmt " chunk.
        auto patched = [&](int offset, quint16 value) {
            QByteArray bytes = valid;
            bytes[offset] = char(value & 0xFF);
            bytes[offset + 1] = char(value >> 8);
            return bytes;
        };
        auto patched32 = [&](int offset, quint32 value) {
            QByteArray bytes = valid;
            for (int i = 0; i < 4; ++i)
                bytes[offset + i] = char((value >> (8 * i)) & 0xFF);
            return bytes;
        };

        QTest::newRow("missing") << "missing.wav" << QByteArray();
        QTest::newRow("empty") << "empty.wav" << QByteArray("");
        QTest::newRow("random bytes .wav") << "random.wav" << randomBytes(1, 20000);
        QTest::newRow("random bytes .mp3") << "random.mp3" << randomBytes(2, 20000);
        QTest::newRow("random bytes .mp3 2") << "random2.mp3" << randomBytes(3, 200000);
        QTest::newRow("text as .mp3") << "text.mp3" << QByteArray("not a sound\n").repeated(500);
        QTest::newRow("truncated header") << "truncated.wav" << valid.left(20);
        QTest::newRow("header only") << "headeronly.wav" << valid.left(44);
        QTest::newRow("zero channels") << "nochannels.wav" << patched(22, 0);
        QTest::newRow("absurd channels") << "manychannels.wav" << patched(22, 0xFFFF);
        QTest::newRow("zero sample rate") << "norate.wav" << patched32(24, 0);
        QTest::newRow("directory") << "folder.wav" << QByteArray();
        QTest::newRow("fifo") << "pipe.wav" << QByteArray();
    }

    void badFilesGiveNoStream()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        const QString file = path(QStringLiteral("bad/") + name);
        QDir().mkpath(path("bad"));
        if (name == QLatin1String("folder.wav")) {
            QVERIFY(QDir().mkpath(file));
        } else if (name == QLatin1String("pipe.wav")) {
            QFile::remove(file);
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        } else if (name != QLatin1String("missing.wav")) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(f.write(content), content.size());
        }
        AudioEngine engine;
        QCOMPARE(engine.createFileStream(file, StreamFlag::FreeWhenEnded), Handle(0));
    }

    void strangeNamesPlay_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("spaces") << "an alarm sound.wav";
        QTest::newRow("percent and quotes") << "100% \"loud\" 'one'.wav";
        QTest::newRow("non-ASCII") << "hälytys äänet ☎.wav";
        QTest::newRow("upper case extension") << "LOUD.WAV";
    }

    void strangeNamesPlay()
    {
        QFETCH(QString, name);
        const QString file = path(name);
        QVERIFY(tarvo::test::writeTone(file, 44100, 441, 10));
        AudioEngine engine;
        QVERIFY(engine.createFileStream(file, 0) != 0);
    }

    void outputDeviceMixesAndPauses()
    {
        AudioEngine engine;
        QVERIFY(engine.initOutput(44100));
        QCOMPARE(engine.speakerCount(), 2);
        const QString file = path("tenth.wav");
        QVERIFY(tarvo::test::writeTone(file, 44100, 4410, 44));

        // Paused output: the stream waits, still playing.
        const Handle stream = engine.createFileStream(file, StreamFlag::FreeWhenEnded);
        QVERIFY(engine.stopOutput());
        QVERIFY(engine.play(stream));
        QTest::qWait(300);
        QVERIFY(engine.isActive(stream));

        // The device is the only listener: renderOutput gives silence.
        std::vector<qint16> out(1024 * 2, 1);
        engine.renderOutput(out.data(), 1024);
        QVERIFY(std::all_of(out.begin(), out.end(), [](qint16 s) { return s == 0; }));

        QVERIFY(engine.startOutput());
        QTRY_VERIFY_WITH_TIMEOUT(!engine.isActive(stream), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(engine.defaultRate(stream), quint32(0), 3000);
        engine.freeOutput();
        QCOMPARE(engine.speakerCount(), 0);
    }

    void captureDeliversBlockPeaks()
    {
        // Five 100 ms blocks, each with one known peak per channel.
        struct Block
        {
            qint16 left;
            qint16 right;
        };
        const std::vector<Block> blocks = {
            {1000, -2000}, {32767, 5}, {-32768, 0}, {0, 0}, {123, 30000}};
        const int blockFrames = 4410;
        std::vector<qint16> raw;
        for (const Block &b : blocks) {
            for (int i = 0; i < blockFrames; ++i) {
                const bool peakFrame = i == blockFrames / 2;
                raw.push_back(peakFrame ? b.left : qint16(b.left / 4));
                raw.push_back(peakFrame ? b.right : qint16(b.right / 4));
            }
        }
        const QString input = path("capture.raw");
        {
            QFile f(input);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(reinterpret_cast<const char *>(raw.data()), qint64(raw.size() * 2));
        }
        const QByteArray previousDriver = qgetenv("SDL_AUDIODRIVER");
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILEIN", QFile::encodeName(input));
        qputenv("SDL_DISKAUDIOFILE", "/dev/null");
        auto restore = qScopeGuard([&] { qputenv("SDL_AUDIODRIVER", previousDriver); });

        AudioEngine engine;
        QVERIFY(engine.initCapture());
        QCOMPARE(engine.captureInputName(1), QString());
        QVERIFY(!engine.captureInputName(0).isEmpty());
        QCOMPARE(engine.captureInputSetting(0), quint32(0x03000000 | 100));

        std::mutex mutex;
        std::vector<quint32> words;
        std::vector<int> frameCounts;
        bool consistent = true;
        const Handle capture =
            engine.startCapture(44100, [&](Handle h, const qint16 *, int frames, quint32 word) {
                // What the microphone monitor does on this thread.
                const bool seen = engine.isActive(h) && engine.captureLevel(h) == word;
                const std::lock_guard lock(mutex);
                consistent = consistent && seen;
                words.push_back(word);
                frameCounts.push_back(frames);
                return words.size() < 7; // ends the capture itself
            });
        QVERIFY(capture != 0);
        QVERIFY(engine.isActive(capture));
        QTRY_VERIFY_WITH_TIMEOUT(!engine.isActive(capture), 5000);
        QTest::qWait(250); // no blocks after the callback said stop

        // Ended, and closed without holding the lock the callback takes.
        QVERIFY(engine.stop(capture));
        QVERIFY(!engine.isActive(capture));

        const std::lock_guard lock(mutex);
        QCOMPARE(words.size(), std::size_t(7));
        QVERIFY(consistent);
        const std::vector<quint32> expected = {
            1000 | (2000u << 16), 32767 | (5u << 16), 32768, 0, 123 | (30000u << 16), 0, 0};
        QCOMPARE(words, expected);
        QCOMPARE(frameCounts, std::vector<int>(7, blockFrames));
        QCOMPARE(engine.captureLevel(capture), quint32(0));
    }

    void captureInputKeepsItsSetting()
    {
        AudioEngine engine;
        QCOMPARE(engine.captureInputSetting(0), audio::InputFlag::Invalid); // not initialised
        QVERIFY(engine.initCapture());
        QVERIFY(engine.setCaptureInput(0, audio::InputFlag::Level | 37));
        QVERIFY(engine.setCaptureInput(0, audio::InputFlag::Off));
        QCOMPARE(engine.captureInputSetting(0), quint32(0x03000000 | 0x00010000 | 37));
        QVERIFY(engine.setCaptureInput(0, audio::InputFlag::On));
        QCOMPARE(engine.captureInputSetting(0), quint32(0x03000000 | 37));
        QVERIFY(!engine.setCaptureInput(1, audio::InputFlag::Off));
        QVERIFY(!engine.setCaptureInput(-1, audio::InputFlag::On));
        QCOMPARE(engine.captureInputSetting(1), audio::InputFlag::Invalid);
    }
};

TARVO_TEST_MAIN(TestAudioEngine)
#include "tst_audioengine.moc"
