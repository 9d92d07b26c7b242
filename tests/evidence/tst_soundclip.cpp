// The sound clip of an alarm, from a private PulseAudio whose default source
// hears a tone played on its speakers: the clip is kept, lasts 10 s, decodes
// and holds the tone; without the microphone detector's capture the
// recorder opens one only for the clip.

#include "audio/PrivateSoundServer.h"
#include "common/TestMain.h"

#include "audio/AudioEngine.h"
#include "evidence/SoundClipRecorder.h"
#include "report/ReportLog.h"

#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <cmath>
#include <sndfile.h>
#include <vector>

using tarvo::test::PrivateSoundServer;

namespace {
constexpr int Timeout = 30000;
constexpr double ToneHz = 440;

bool WriteTone(const QString &path, int seconds)
{
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    std::vector<short> samples(std::size_t(info.samplerate) * seconds * 2);
    for (std::size_t i = 0; i < samples.size() / 2; ++i)
        samples[2 * i] = samples[2 * i + 1] =
            short(12000 * std::sin(2 * M_PI * ToneHz * double(i) / info.samplerate));
    const bool ok = sf_writef_short(file, samples.data(), sf_count_t(samples.size() / 2)) ==
                    sf_count_t(samples.size() / 2);
    sf_close(file);
    return ok;
}

struct Decoded
{
    double seconds = 0;
    double toneHz = 0; // from the zero crossings of the clip's second half
};

Decoded Decode(const QString &path)
{
    Decoded decoded;
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file || info.samplerate <= 0 || info.channels != 2)
        return decoded;
    std::vector<float> samples(std::size_t(info.frames) * 2);
    const sf_count_t frames = sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    decoded.seconds = double(frames) / info.samplerate;
    int crossings = 0;
    const sf_count_t from = frames / 2;
    for (sf_count_t i = from + 1; i < frames; ++i)
        if ((samples[2 * (i - 1)] < 0) != (samples[2 * i] < 0))
            ++crossings;
    decoded.toneHz = crossings / 2.0 / (double(frames - from) / info.samplerate);
    return decoded;
}
} // namespace

class TestSoundClip : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void clipOfTheRoom_data()
    {
        QTest::addColumn<bool>("detectorOn");
        QTest::newRow("microphone detector on") << true;
        QTest::newRow("microphone detector off") << false;
    }
    void clipOfTheRoom()
    {
        QFETCH(bool, detectorOn);
        PrivateSoundServer server(PrivateSoundServer::Kind::PulseAudio);
        QVERIFY(server.ready());
        // A microphone that hears the speakers (SDL lists no monitor sources).
        bool loaded = false;
        server.pactl({QStringLiteral("load-module"), QStringLiteral("module-remap-source"),
                      QStringLiteral("master=speakers.monitor"),
                      QStringLiteral("source_name=room")},
                     &loaded);
        QVERIFY(loaded);
        QVERIFY(server.setDefaultSource(QStringLiteral("room")));
        // The program's capture streams (not the remapping's own).
        const auto captureStreams = [&] {
            QStringList streams = server
                                      .pactl({QStringLiteral("list"), QStringLiteral("short"),
                                              QStringLiteral("source-outputs")})
                                      .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            streams.removeIf([](const QString &line) { return line.contains("remap"); });
            return streams.join(QLatin1Char('\n'));
        };
        QTemporaryDir dir;
        const QString tone = dir.filePath(QStringLiteral("tone.wav"));
        QVERIFY(WriteTone(tone, 40));
        QProcess player;
        QProcessEnvironment env = server.environment();
        env.insert(QStringLiteral("PULSE_SERVER"), server.serverString());
        player.setProcessEnvironment(env);
        player.start(QStringLiteral("paplay"), {tone});
        QVERIFY(player.waitForStarted());
        const auto stopPlayer = qScopeGuard([&] {
            player.kill();
            player.waitForFinished();
        });

        const auto through = server.sdlThrough();
        ReportLog report(dir.path() + QStringLiteral("/Reports/"));
        const QString evidence = dir.path() + QStringLiteral("/Reports/Evidence/");
        {
            audio::AudioEngine engine;
            QVERIFY(engine.initCapture());
            SoundClipRecorder::Hooks hooks;
            hooks.settings = [] {
                EvidenceSettings settings;
                settings.sound = true;
                return settings;
            };
            SoundClipRecorder recorder(engine, report, evidence, hooks);
            QSignalSpy finished(&recorder, &SoundClipRecorder::clipFinished);
            recorder.triggered(); // disarmed: nothing
            recorder.setArmed(true);
            if (detectorOn) {
                QVERIFY(engine.startCapture(44100, [](audio::Handle, const qint16 *, int, quint32) {
                    return true;
                }) != 0);
                QTest::qWait(SoundClipRecorder::LeadMs); // the ring fills
            } else {
                QTest::qWait(500);
                QCOMPARE(captureStreams(), QString());
            }
            recorder.triggered();
            QVERIFY(recorder.recording());
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, Timeout);
            const QString clip = finished.first().first().toString();
            QVERIFY2(!clip.isEmpty(), qPrintable(report.lines().join('\n')));
            QVERIFY(report.lines().last().endsWith(QStringLiteral("] Sound saved: ") +
                                                   QFileInfo(clip).fileName()));
            QVERIFY(QFileInfo(clip).fileName().endsWith(QStringLiteral("_sound.oga")));
            const Decoded decoded = Decode(clip);
            QVERIFY2(std::abs(decoded.seconds - 10) <= 0.5,
                     qPrintable(QString::number(decoded.seconds)));
            QVERIFY2(std::abs(decoded.toneHz - ToneHz) < 20,
                     qPrintable(QString::number(decoded.toneHz)));
            if (!detectorOn)
                QTRY_COMPARE_WITH_TIMEOUT(captureStreams(), QString(), Timeout);
            recorder.setArmed(false);
        }
        QTRY_COMPARE_WITH_TIMEOUT(captureStreams(), QString(), Timeout);
    }
};

TARVO_TEST_MAIN(TestSoundClip)
#include "tst_soundclip.moc"
