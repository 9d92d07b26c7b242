#include "detect/RoomCalibration.h"

#include "detect/InputGain.h"

#include <QMutex>
#include <QMutexLocker>
#include <algorithm>
#include <cmath>

CalibrationProposal ProposeCalibration(const QList<quint32> &rawPeaks, int currentTriggerLength)
{
    CalibrationProposal p;
    p.triggerLength = std::clamp(currentTriggerLength, 0, 100);
    p.blocks = int(rawPeaks.size());
    if (rawPeaks.isEmpty())
        return p; // nothing measured: nothing to propose
    double sum = 0;
    for (quint32 peak : rawPeaks) {
        p.roomPeak = std::max(p.roomPeak, std::min<quint32>(peak, 32768));
        sum += std::min<quint32>(peak, 32768);
    }
    p.roomMean = sum / double(rawPeaks.size());
    double squares = 0;
    for (quint32 peak : rawPeaks)
        squares += std::pow(std::min<quint32>(peak, 32768) - p.roomMean, 2);
    p.roomSpread = std::sqrt(squares / double(rawPeaks.size()));
    // Ten seconds do not hold every noise of a room: allow for more than
    // the loudest block where the level varies a lot.
    p.roomCeiling = std::min<quint32>(
        32768, std::max(p.roomPeak, quint32(std::ceil(p.roomMean + 3 * p.roomSpread))));

    const auto fits = [&](int position, int volume) {
        return InputGain::GainedPeak(p.roomCeiling, InputGain::FactorAt(position)) *
                   CalibrationMargin <=
               volume;
    };
    // Keep the trigger volume where it is by default and the input level as
    // high as possible (never above unchanged samples), so the microphone
    // stays as sensitive as the room allows.
    p.triggerVolume = 50;
    p.inputLevel = -1;
    for (int position = InputGain::UnityPosition; position >= InputGain::MinPosition; --position) {
        if (fits(position, p.triggerVolume)) {
            p.inputLevel = position;
            break;
        }
    }
    if (p.inputLevel < 0) {
        // Even the lowest level is too loud for 50: raise the volume.
        p.inputLevel = InputGain::MinPosition;
        const quint32 gained =
            InputGain::GainedPeak(p.roomCeiling, InputGain::FactorAt(p.inputLevel));
        p.triggerVolume = int(std::ceil(gained * CalibrationMargin));
    }
    p.possible = p.triggerVolume <= 100;
    p.triggerVolume = std::clamp(p.triggerVolume, 1, 100);
    p.gainedCeiling = InputGain::GainedPeak(p.roomCeiling, InputGain::FactorAt(p.inputLevel));

    // Runs of blocks above half the volume were the room's own: the
    // trigger length must outlast twice the longest.
    int run = 0;
    int longest = 0;
    const double factor = InputGain::FactorAt(p.inputLevel);
    for (quint32 peak : rawPeaks) {
        run = InputGain::GainedPeak(peak, factor) * 2 >= quint32(p.triggerVolume) ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    p.triggerLength = std::clamp(std::max(p.triggerLength, 2 * longest), 0, 100);
    return p;
}

// Shared with the capture thread, which only appends and posts.
struct RoomCalibration::Queue
{
    QMutex mutex;
    QList<quint32> peaks;
    RoomCalibration *receiver = nullptr;
    bool wakePending = false;
};

RoomCalibration::RoomCalibration(audio::AudioEngine &engine, QObject *parent)
    : QObject(parent), m_engine(engine)
{
    m_silence.setSingleShot(true);
    m_silence.setInterval(SilenceTimeoutMilliseconds);
    connect(&m_silence, &QTimer::timeout, this, [this] {
        Stop();
        Q_EMIT failed(QStringLiteral("The microphone stopped sending sound."));
    });
}

RoomCalibration::~RoomCalibration()
{
    Stop();
}

bool RoomCalibration::Start(int currentTriggerLength)
{
    Stop();
    m_peaks.clear();
    m_triggerLength = currentTriggerLength;
    auto queue = std::make_shared<Queue>();
    queue->receiver = this;
    m_queue = queue;
    m_handle = m_engine.startCapture(
        44100, [queue](audio::Handle, const qint16 *, int, quint32 levelWord) {
            QMutexLocker lock(&queue->mutex);
            if (!queue->receiver)
                return false;
            queue->peaks.append(std::max(levelWord & 0xFFFF, levelWord >> 16));
            if (!queue->wakePending) {
                queue->wakePending = true;
                RoomCalibration *receiver = queue->receiver;
                // By name: a functor built on this thread and run on the UI
                // thread would be shared memory that no lock of ours guards.
                QMetaObject::invokeMethod(receiver, "Drain", Qt::QueuedConnection);
            }
            return true;
        });
    if (m_handle == 0) {
        m_queue.reset();
        return false;
    }
    m_silence.start();
    Q_EMIT progress(0);
    return true;
}

void RoomCalibration::Cancel()
{
    Stop();
}

void RoomCalibration::Drain()
{
    if (!m_queue)
        return;
    QList<quint32> fresh;
    {
        QMutexLocker lock(&m_queue->mutex);
        m_queue->wakePending = false;
        fresh.swap(m_queue->peaks);
    }
    if (fresh.isEmpty())
        return;
    m_silence.start();
    m_peaks.append(fresh.mid(0, Blocks - m_peaks.size()));
    Q_EMIT progress(int(m_peaks.size() * 100 / Blocks));
    if (m_peaks.size() < Blocks)
        return;
    Stop();
    Q_EMIT finished(ProposeCalibration(m_peaks, m_triggerLength));
}

void RoomCalibration::Stop()
{
    m_silence.stop();
    if (m_queue) {
        QMutexLocker lock(&m_queue->mutex);
        m_queue->receiver = nullptr;
    }
    m_queue.reset();
    if (m_handle != 0)
        m_engine.stop(m_handle);
    m_handle = 0;
}
