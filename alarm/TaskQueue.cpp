#include "alarm/TaskQueue.h"

#include <algorithm>

namespace {
const QString Marker = QStringLiteral("DTC");
// The sound list holds at most 1000 sounds; a larger count would make
// records longer than 18 characters.
constexpr int MaxSounds = 1000;
} // namespace

QString ZeroPad(int value, int digits)
{
    QString s = QString::number(value);
    const qsizetype missing = digits - s.size();
    if (missing >= 0)
        s.prepend(QString(missing + 1, QLatin1Char('0')));
    return s;
}

QString TaskQueue::MakeRecord(int soundIndex, int randomNumber, int speaker)
{
    return Marker + ZeroPad(soundIndex, 2) + ZeroPad(0, 2) + ZeroPad(randomNumber, 2) +
           ZeroPad(0, 2) + ZeroPad(speaker, 2);
}

std::optional<TaskRecord> TaskQueue::ParseRecord(const QString &record)
{
    if (record.size() != RecordLength || !record.startsWith(Marker))
        return std::nullopt;
    auto field = [&record](int position, bool &ok) {
        const QStringView digits = QStringView(record).mid(position - 1, 3);
        ok = std::all_of(digits.begin(), digits.end(),
                         [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
        return ok ? digits.toInt() : 0;
    };
    bool okSound = false, okSlot = false, okSpeaker = false;
    TaskRecord parsed{field(4, okSound), field(13, okSlot), field(16, okSpeaker)};
    if (!okSound || !okSlot || !okSpeaker)
        return std::nullopt;
    return parsed;
}

void TaskQueue::AddTask(int checkedCount, int persistence, int persistenceRandom,
                        const RandomBelow &randomBelow)
{
    if (count() > MaxRecordsBeforeRun)
        return;
    if (checkedCount <= 0)
        return;
    const auto sounds = static_cast<quint32>(std::min(checkedCount, MaxSounds));
    const int extra =
        static_cast<int>(randomBelow(static_cast<quint32>(std::max(persistenceRandom, 0)))) +
        std::max(persistence, 0);
    for (int i = 0; i <= extra; ++i) {
        const auto soundIndex = static_cast<int>(randomBelow(sounds));
        const auto randomNumber = static_cast<int>(randomBelow(1000));
        const auto speaker = static_cast<int>(randomBelow(3));
        m_records.append(MakeRecord(soundIndex, randomNumber, speaker));
    }
}
