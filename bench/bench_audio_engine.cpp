// Measures the audio engine: mixing cost of four altered-rate streams, the
// delay from creating a stream to its first rendered frame, and memory while
// a 30-minute MP3 plays. Prints figures; judges nothing.

#include "audio/AudioEngine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <numbers>
#include <sndfile.h>
#include <vector>

namespace {

double cpuSeconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// A field of /proc/self/status in kB.
long statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Writes `seconds` of a stereo chord, one second at a time.
bool writeSound(const QString &path, int format, int seconds)
{
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = format;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    std::vector<float> second(44100 * 2);
    bool ok = true;
    for (int s = 0; s < seconds && ok; ++s) {
        for (int f = 0; f < 44100; ++f) {
            const double t = double(s) + f / 44100.0;
            second[2 * f] = float(0.3 * std::sin(2 * std::numbers::pi * 440 * t));
            second[2 * f + 1] = float(0.3 * std::sin(2 * std::numbers::pi * 554 * t));
        }
        ok = sf_writef_float(file, second.data(), 44100) == 44100;
    }
    return sf_close(file) == 0 && ok;
}

bool hasSound(const std::vector<qint16> &samples)
{
    for (qint16 s : samples)
        if (s != 0)
            return true;
    return false;
}

// Create, set up and play, then render until sound comes out.
double msToFirstFrame(audio::AudioEngine &engine, const QString &path, audio::Handle *stream)
{
    std::vector<qint16> out(256 * 2);
    QElapsedTimer timer;
    timer.start();
    *stream = engine.createFileStream(path, audio::StreamFlag::FreeWhenEnded);
    if (*stream == 0)
        return -1;
    engine.setAttributes(*stream, 44061, 50, 0);
    engine.play(*stream);
    do {
        engine.renderOutput(out.data(), 256);
    } while (!hasSound(out) && timer.elapsed() < 5000);
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main()
{
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }

    // 1. Mixing cost: four streams at altered rates, 60 s of output.
    const QString wav = dir.filePath(QStringLiteral("chord.wav"));
    if (!writeSound(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 75)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(wav));
        return 1;
    }
    {
        audio::AudioEngine engine;
        for (int rate : {44061, 48462, 24211, 53352}) {
            const audio::Handle stream = engine.createFileStream(wav, 0);
            engine.setAttributes(stream, rate, 50, 0);
            engine.play(stream);
        }
        const int seconds = 60;
        std::vector<qint16> out(1024 * 2);
        const double process0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double thread0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        QElapsedTimer wall;
        wall.start();
        for (int done = 0; done < seconds * 44100; done += 1024)
            engine.renderOutput(out.data(), 1024);
        const double process = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0;
        const double thread = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - thread0;
        std::printf("mix 60 s, 4 streams at altered rates (decode + resample + mix):\n"
                    "  process CPU %.3f s = %.2f %% of one core in real time "
                    "(rendering thread %.3f s, wall %.3f s)\n",
                    process, 100.0 * process / seconds, thread, wall.elapsed() / 1000.0);
    }

    // 2. First rendered frame, and memory while a 30-minute MP3 plays.
    const QString mp3 = dir.filePath(QStringLiteral("long.mp3"));
    QString longFile = mp3;
    QElapsedTimer encode;
    encode.start();
    if (!writeSound(mp3, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 30 * 60)) {
        longFile = dir.filePath(QStringLiteral("long.wav"));
        std::printf("MP3 writing failed: a 30-minute WAV is used instead\n");
        if (!writeSound(longFile, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 30 * 60))
            return 1;
    }
    std::printf("30-minute file %s: %.1f MB, made in %.1f s\n",
                qPrintable(QFileInfo(longFile).fileName()), QFileInfo(longFile).size() / 1e6,
                encode.elapsed() / 1000.0);

    {
        audio::AudioEngine engine;
        audio::Handle stream = 0;
        const double wavMs = msToFirstFrame(engine, wav, &stream);
        engine.stop(stream);
        const long baselineKb = statusKb("VmRSS");
        const double longMs = msToFirstFrame(engine, longFile, &stream);
        std::printf("create + play to first rendered frame: WAV %.2f ms, 30-minute %s %.2f ms\n",
                    wavMs, qPrintable(QFileInfo(longFile).suffix().toUpper()), longMs);

        // Two minutes of it, rendered offline, RSS sampled as it goes.
        long peakKb = baselineKb;
        std::vector<qint16> out(4410 * 2);
        for (int block = 0; block < 1200 && engine.isActive(stream); ++block) {
            engine.renderOutput(out.data(), 4410);
            if (block % 50 == 0)
                peakKb = std::max(peakKb, statusKb("VmRSS"));
        }
        std::printf("memory while playing it: VmRSS baseline %ld kB, peak %ld kB, extra %.2f MB "
                    "(VmHWM of the whole run %ld kB)\n",
                    baselineKb, peakKb, (peakKb - baselineKb) / 1024.0, statusKb("VmHWM"));
    }
    return 0;
}
