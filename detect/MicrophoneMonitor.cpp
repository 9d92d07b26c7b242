#include "detect/MicrophoneMonitor.h"

#include "detect/InputGain.h"

#include <QMutex>
#include <QMutexLocker>
#include <algorithm>
#include <atomic>
#include <climits>
#include <deque>

namespace {
// The engine answers for every index it knows; a sweep that never hears
// "no such input" must still end.
constexpr int MaxInputs = 256;
constexpr int LedMilliseconds = 250;
// How often a running capture is asked whether it still runs (a USB
// microphone pulled out ends it without a word on the capture thread).
constexpr int CaptureWatchMilliseconds = 1000;
// Blocks quieter than the trigger volume are handed over this many at a
// time: a quiet room wakes the window half as often, and the gauges still
// follow it five times a second. A loud block is handed over at once.
constexpr std::size_t QuietBatch = 2;
} // namespace

// Shared by the capture callback and the monitor; the capture thread touches
// nothing else. receiver turns null when the monitor lets go of this capture,
// after which the callback ends the capture instead of posting.
struct MicrophoneMonitor::BlockQueue
{
    QMutex mutex;
    std::deque<quint32> levels;
    MicrophoneMonitor *receiver = nullptr;
    std::size_t limit = MaxPendingBlocks;
    bool wakePending = false;
    quint64 dropped = 0;
    // The input level's gain; read by the capture thread for every block.
    std::atomic<double> gain{1.0};
    // The trigger volume last judged against: a block at or over it wakes
    // the monitor at once.
    std::atomic<quint32> urgentLevel{0};

    // Called with mutex held.
    void PostWake()
    {
        wakePending = true;
        // By name, not a lambda: nothing built on this thread is read on the
        // receiving one except through Qt's own event queue.
        QMetaObject::invokeMethod(receiver, "DrainBlocks", Qt::QueuedConnection);
    }
};

MicrophoneMonitor::MicrophoneMonitor(audio::AudioEngine &engine, QObject *parent)
    : QObject(parent), m_engine(engine)
{
    TimLedMic.setObjectName(QStringLiteral("TimLedMic"));
    TimLedMic.setInterval(LedMilliseconds);
    TimLedMic.setSingleShot(true);
    connect(&TimLedMic, &QTimer::timeout, this, &MicrophoneMonitor::TimLedMicTimer);

    m_captureWatch.setInterval(CaptureWatchMilliseconds);
    connect(&m_captureWatch, &QTimer::timeout, this, &MicrophoneMonitor::CheckCaptureAlive);
}

MicrophoneMonitor::~MicrophoneMonitor()
{
    // The engine may already be gone; a detached queue makes the callback
    // end the capture on its own.
    DetachQueue();
}

bool MicrophoneMonitor::SelectInput()
{
    m_inputNames.clear();
    QList<quint32> settings;
    for (int i = 0; i < MaxInputs; ++i) {
        const QString name = m_engine.captureInputName(i);
        if (name.isEmpty())
            break;
        m_inputNames.append(name);
        settings.append(m_engine.captureInputSetting(i));
    }
    m_selectedInput = ChooseInput(m_inputNames, settings);
    return m_selectedInput >= 0;
}

int MicrophoneMonitor::ChooseInput(const QStringList &names, const QList<quint32> &settings)
{
    const int inputs = int(std::min(names.size(), settings.size()));
    // An input whose setting cannot be read is neither on nor a microphone.
    const auto known = [&](int i) { return settings.at(i) != audio::InputFlag::Invalid; };

    int chosen = -1;
    for (int i = 0; i < inputs; ++i) {
        if (known(i) && !(settings.at(i) & audio::InputFlag::Off))
            chosen = i;
    }
    for (int i = 0; chosen < 0 && i < inputs; ++i) {
        if (known(i) &&
            (settings.at(i) & audio::InputFlag::TypeMask) == audio::InputFlag::TypeMicrophone)
            chosen = i;
    }
    for (int i = 0; chosen < 0 && i < inputs; ++i) {
        if (names.at(i).toUpper() == QLatin1String("MICROPHONE"))
            chosen = i;
    }
    return chosen;
}

void MicrophoneMonitor::cmbRecSourceChange(int index)
{
    m_selectedInput = (index >= 0 && index < m_inputNames.size()) ? index : -1;

    for (int i = 0; i < MaxInputs && m_engine.setCaptureInput(i, audio::InputFlag::Off); ++i) {
    }
    if (m_selectedInput < 0)
        return;
    m_engine.setCaptureInput(m_selectedInput, audio::InputFlag::On);
    // The level is our own gain, not the device's (SDL has no input level):
    // the input takes the program's level instead of the other way round.
    m_engine.setCaptureInput(m_selectedInput, audio::InputFlag::Level | quint32(m_inputLevel));
}

void MicrophoneMonitor::trkMicSensivityChange(int position)
{
    m_inputLevel = std::clamp(position, 0, 100);
    m_gain = InputGain::FactorAt(m_inputLevel);
    if (m_queue)
        m_queue->gain.store(m_gain);
    if (m_selectedInput >= 0)
        m_engine.setCaptureInput(m_selectedInput, audio::InputFlag::Level | quint32(m_inputLevel));
}

bool MicrophoneMonitor::StartRecording()
{
    if (m_selectedInput < 0)
        return true;
    // A second capture would feed the same count twice per block.
    if (isRecording())
        return true;

    DetachQueue();
    auto queue = std::make_shared<BlockQueue>();
    queue->receiver = this;
    queue->limit = std::size_t(m_maxPendingBlocks);
    queue->gain.store(m_gain);
    m_queue = queue;

    m_recordingHandle =
        m_engine.startCapture(CaptureFrequency, [queue](audio::Handle, const qint16 *samples,
                                                        int frames, quint32 levelWord) {
            const double gain = queue->gain.load();
            if (gain != 1.0 && samples)
                levelWord = InputGain::GainedLevelWord(samples, frames, gain);
            QMutexLocker lock(&queue->mutex);
            if (!queue->receiver)
                return false;
            if (queue->levels.size() >= queue->limit) {
                queue->levels.pop_front();
                ++queue->dropped;
            }
            queue->levels.push_back(levelWord);
            const quint32 peak = std::max(levelWord & 0xFFFFU, levelWord >> 16);
            const bool urgent = peak >= queue->urgentLevel.load();
            if (!queue->wakePending && (urgent || queue->levels.size() >= QuietBatch))
                queue->PostWake();
            return true;
        });
    if (m_recordingHandle == 0) {
        DetachQueue();
        return false;
    }
    m_captureWatch.start();
    return true;
}

void MicrophoneMonitor::StopRecording()
{
    m_captureWatch.stop();
    m_engine.stop(m_recordingHandle);
    DetachQueue();
    m_count = 0;
    Q_EMIT recordingStopped();
}

bool MicrophoneMonitor::isRecording() const
{
    return m_recordingHandle != 0 && m_engine.isActive(m_recordingHandle);
}

MicrophoneMonitor::LevelResult MicrophoneMonitor::CheckLevel(quint32 level, int triggerVolume,
                                                             int triggerLength)
{
    const quint32 left = level & 0xFFFF;
    const quint32 right = level >> 16;
    bool triggered = false;
    if (m_queue)
        m_queue->urgentLevel.store(quint32(std::max(triggerVolume, 0)));

    // Exact silence (both peaks 0) shows 0 but neither ends nor extends a run.
    if (left == 0 && right == 0) {
        m_currentLevel = 0;
    } else {
        m_currentLevel = std::max(left, right);
        if (m_currentLevel < quint32(std::max(triggerVolume, 0))) {
            m_count = 0;
        } else {
            if (m_count < INT_MAX)
                ++m_count;
            if (triggerLength < m_count || triggerLength == 0) {
                triggered = true;
                SetLed(true);
                if (!TimLedMic.isActive())
                    TimLedMic.start();
            }
        }
    }
    return {triggered, int(std::min<quint32>(m_currentLevel, 100)), std::min(m_count, 100)};
}

quint64 MicrophoneMonitor::droppedBlocks() const
{
    if (!m_queue)
        return 0;
    QMutexLocker lock(&m_queue->mutex);
    return m_queue->dropped;
}

int MicrophoneMonitor::pendingBlocks() const
{
    if (!m_queue)
        return 0;
    QMutexLocker lock(&m_queue->mutex);
    return int(m_queue->levels.size());
}

void MicrophoneMonitor::TimLedMicTimer()
{
    TimLedMic.stop();
    SetLed(false);
}

void MicrophoneMonitor::DrainBlocks()
{
    const std::shared_ptr<BlockQueue> queue = m_queue;
    if (!queue)
        return;

    // Only the blocks present now: a handler slower than the block period
    // must not keep the event loop from ever running again.
    std::size_t budget;
    {
        QMutexLocker lock(&queue->mutex);
        queue->wakePending = false;
        budget = queue->levels.size();
    }
    // One block at a time, so a nested event loop inside a handler (a modal
    // dialog) goes on with the next block rather than reordering them.
    for (; budget > 0 && queue == m_queue; --budget) {
        quint32 level;
        {
            QMutexLocker lock(&queue->mutex);
            if (queue->levels.empty())
                break;
            level = queue->levels.front();
            queue->levels.pop_front();
        }
        Q_EMIT levelReceived(level);
    }

    QMutexLocker lock(&queue->mutex);
    if (queue->receiver && !queue->levels.empty() && !queue->wakePending)
        queue->PostWake();
}

void MicrophoneMonitor::CheckCaptureAlive()
{
    if (m_recordingHandle == 0 || m_engine.isActive(m_recordingHandle))
        return;
    // The blocks that came before the loss are real; judge them first.
    DrainBlocks();
    StopRecording();
    Q_EMIT captureLost();
}

void MicrophoneMonitor::DetachQueue()
{
    if (!m_queue)
        return;
    {
        QMutexLocker lock(&m_queue->mutex);
        m_queue->receiver = nullptr;
        m_queue->levels.clear();
    }
    m_queue.reset();
}

void MicrophoneMonitor::SetLed(bool lit)
{
    if (m_ledLit == lit)
        return;
    m_ledLit = lit;
    Q_EMIT ledChanged(lit);
}
