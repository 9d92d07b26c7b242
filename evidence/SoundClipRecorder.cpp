#include "evidence/SoundClipRecorder.h"

#include "audio/OggEncoder.h"
#include "report/ReportLog.h"

#include <QElapsedTimer>
#include <algorithm>
#include <mutex>
#include <vector>

const QString SoundClipRecorder::MissingLine = QStringLiteral("Sound not available");

namespace {
constexpr int Channels = 2;
constexpr int OwnCaptureFrequency = 44100;
// A ring older than this is from a capture that ended: not the trigger's.
constexpr qint64 FreshRingMs = 1000;

qint64 NowMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}
} // namespace

// Shared with the capture thread, which only ever takes the lock briefly.
struct SoundClipRecorder::Feed
{
    std::mutex mutex;
    SoundClipRecorder *receiver = nullptr; // cleared before the recorder goes
    bool armed = false;
    int rate = 0;
    std::vector<qint16> ring; // the last LeadMs, circular, whole frames
    std::size_t ringNext = 0, ringFill = 0;
    qint64 lastBlockMs = 0;
    bool recording = false;
    int clipRate = 0; // 0 until the clip's first frames
    std::vector<qint16> clip;

    std::size_t ringFrames() const { return ring.size() / Channels; }

    void push(const qint16 *samples, int frames, int frequency)
    {
        const std::lock_guard lock(mutex);
        lastBlockMs = NowMs();
        if (frequency != rate) {
            rate = frequency;
            ring.assign(std::size_t(rate) * LeadMs / 1000 * Channels, 0);
            ringNext = ringFill = 0;
        }
        if (armed && !ring.empty()) {
            for (int i = 0; i < frames; ++i) {
                std::copy_n(samples + std::size_t(i) * Channels, Channels,
                            ring.begin() + std::ptrdiff_t(ringNext * Channels));
                ringNext = (ringNext + 1) % ringFrames();
            }
            ringFill = std::min(ringFill + std::size_t(frames), ringFrames());
        }
        if (!recording)
            return;
        if (clipRate == 0)
            clipRate = frequency;
        const std::size_t wanted = std::size_t(clipRate) * ClipMs / 1000;
        const std::size_t have = clip.size() / Channels;
        const std::size_t take =
            frequency == clipRate ? std::min(std::size_t(frames), wanted - have) : 0;
        clip.insert(clip.end(), samples, samples + take * Channels);
        if (have + take >= wanted || frequency != clipRate) {
            recording = false; // full, or another capture with another rate took over
            if (receiver)
                QMetaObject::invokeMethod(receiver, "clipFull", Qt::QueuedConnection);
        }
    }

    // Starts a clip with what the ring holds of the last seconds.
    void startClip()
    {
        const std::lock_guard lock(mutex);
        recording = true;
        clip.clear();
        clipRate = 0;
        if (ringFill == 0 || NowMs() - lastBlockMs > FreshRingMs)
            return;
        clipRate = rate;
        clip.reserve(std::size_t(rate) * ClipMs / 1000 * Channels);
        const std::size_t oldest = (ringNext + ringFrames() - ringFill) % ringFrames();
        for (std::size_t i = 0; i < ringFill; ++i) {
            const auto frame =
                ring.begin() + std::ptrdiff_t(((oldest + i) % ringFrames()) * Channels);
            clip.insert(clip.end(), frame, frame + Channels);
        }
    }
};

SoundClipRecorder::SoundClipRecorder(audio::AudioEngine &engine, ReportLog &report,
                                     const QString &folder, Hooks hooks, QObject *parent)
    : QObject(parent), m_engine(engine), m_report(report), m_folder(folder),
      m_hooks(std::move(hooks)), m_feed(std::make_shared<Feed>())
{
    if (!m_hooks.settings)
        m_hooks.settings = [] { return EvidenceSettings::Load(); };
    m_feed->receiver = this;
    m_ownCaptureStart.setSingleShot(true);
    connect(&m_ownCaptureStart, &QTimer::timeout, this, &SoundClipRecorder::startOwnCapture);
    // A capture that never delivers ends the clip with what it has.
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &SoundClipRecorder::finish);
    m_engine.setCaptureTap([feed = m_feed](const qint16 *samples, int frames, int frequency) {
        feed->push(samples, frames, frequency);
    });
}

SoundClipRecorder::~SoundClipRecorder()
{
    m_engine.setCaptureTap(nullptr);
    {
        const std::lock_guard lock(m_feed->mutex);
        m_feed->receiver = nullptr;
    }
    if (m_ownCapture)
        m_engine.stop(m_ownCapture);
    if (m_writer.joinable())
        m_writer.join();
}

void SoundClipRecorder::setArmed(bool armed)
{
    if (armed == m_armed)
        return;
    m_armed = armed;
    {
        const std::lock_guard lock(m_feed->mutex);
        m_feed->armed = armed;
        m_feed->ringFill = 0;
    }
    if (armed)
        m_missingSaid = false;
    else if (m_busy)
        finish();
}

void SoundClipRecorder::triggered()
{
    if (!m_armed || m_busy)
        return; // one clip at a time
    const EvidenceSettings settings = m_hooks.settings();
    if (!settings.sound)
        return;
    if (m_writer.joinable())
        m_writer.join(); // it has handed in its result
    m_busy = true;
    m_collecting = true;
    m_taken = QDateTime::currentDateTime();
    m_limits = settings.limits;
    m_feed->startClip();
    if (!m_engine.captureRunning())
        m_ownCaptureStart.start(m_hooks.ownCaptureDelayMs);
    m_deadline.start(m_hooks.ownCaptureDelayMs + ClipMs + 10000);
}

void SoundClipRecorder::startOwnCapture()
{
    if (!m_collecting || m_engine.captureRunning())
        return;
    if (m_engine.initCapture())
        m_ownCapture = m_engine.startCapture(
            OwnCaptureFrequency, [](audio::Handle, const qint16 *, int, quint32) { return true; });
    if (m_ownCapture != 0)
        return;
    m_collecting = false;
    m_deadline.stop();
    {
        const std::lock_guard lock(m_feed->mutex);
        m_feed->recording = false;
        m_feed->clip.clear();
    }
    m_busy = false;
    if (!m_missingSaid)
        m_report.AddToReport(MissingLine);
    m_missingSaid = true;
    Q_EMIT clipFinished({});
}

void SoundClipRecorder::clipFull()
{
    if (m_collecting)
        finish();
}

void SoundClipRecorder::finish()
{
    if (!m_collecting)
        return;
    m_collecting = false;
    m_deadline.stop();
    m_ownCaptureStart.stop();
    if (m_ownCapture != 0)
        m_engine.stop(m_ownCapture);
    m_ownCapture = 0;
    std::vector<qint16> clip;
    int rate = 0;
    {
        const std::lock_guard lock(m_feed->mutex);
        m_feed->recording = false;
        clip.swap(m_feed->clip);
        rate = m_feed->clipRate;
    }
    if (clip.empty() || rate <= 0) {
        apply({}, QStringLiteral("no sound came from the microphone"));
        return;
    }
    if (m_writer.joinable())
        m_writer.join();
    m_writer =
        std::thread([this, clip = std::move(clip), rate, taken = m_taken, limits = m_limits] {
            QString error, name;
            QStringList setAside;
            const QByteArray ogg = audio::EncodeOggVorbis(
                clip.data(), qint64(clip.size() / Channels), Channels, rate, &error);
            if (!ogg.isEmpty())
                name = m_folder.save(taken, QStringLiteral("sound"), QStringLiteral("oga"), ogg,
                                     &error, &setAside);
            if (!name.isEmpty())
                m_folder.prune(limits, QDateTime::currentDateTime(), name, &setAside);
            QMetaObject::invokeMethod(
                this,
                [this, name, error, setAside] {
                    for (const QString &line : setAside)
                        m_report.AddToReport(line);
                    apply(name, error);
                },
                Qt::QueuedConnection);
        });
}

void SoundClipRecorder::apply(const QString &fileName, const QString &error)
{
    m_busy = false;
    if (fileName.isEmpty()) {
        m_report.AddToReport(QStringLiteral("Sound not saved: ") + error);
        Q_EMIT clipFinished({});
        return;
    }
    m_report.AddToReport(QStringLiteral("Sound saved: ") + fileName);
    Q_EMIT clipFinished(m_folder.path() + fileName);
}
