#pragma once
// The task queue: one accepted trigger becomes a run of alarm task records,
// played one after another by the task timer.
//
// A record is "DTC" followed by five three-digit fields: sound index (entry
// of the checked-sound list), spare "000", random number, playback slot
// "000", speaker code (0 right, 1 centre, 2 left).

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Uniform random integer in 0..n-1, and 0 for n == 0.
using RandomBelow = std::function<quint32(quint32)>;

// Decimal text of value with (digits - length + 1) zeros in front when that
// is positive: ZeroPad(5, 2) == "005", ZeroPad(999, 2) == "999".
QString ZeroPad(int value, int digits);

struct TaskRecord
{
    int soundIndex;
    int slot;
    int speaker;
};

class TaskQueue
{
public:
    static constexpr int RecordLength = 18;
    // A queue holding more records than this refuses a new run.
    static constexpr int MaxRecordsBeforeRun = 999;

    // Appends one run of (random below persistenceRandom) + persistence + 1
    // records, unless the queue already holds more than 999 records or no
    // sound is checked.
    void AddTask(int checkedCount, int persistence, int persistenceRandom,
                 const RandomBelow &randomBelow);

    static QString MakeRecord(int soundIndex, int randomNumber, int speaker);
    // nullopt unless the record is 18 characters, begins "DTC" and its
    // fields are decimal.
    static std::optional<TaskRecord> ParseRecord(const QString &record);

    int count() const { return static_cast<int>(m_records.size()); }
    bool isEmpty() const { return m_records.isEmpty(); }
    void clear() { m_records.clear(); }
    const QStringList &records() const { return m_records; }
    void append(const QString &record) { m_records.append(record); }
    QString takeHead() { return m_records.isEmpty() ? QString() : m_records.takeFirst(); }

private:
    QStringList m_records;
};
