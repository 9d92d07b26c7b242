#pragma once
// Alerts that wait for the server, kept in a small file that is replaced
// atomically after every change, so a crash or a restart loses none of them.
// A full queue drops its oldest plain lines first, then the oldest alarms
// that followed another alarm when they came, so the first alarm of every run
// stays (and the newest of the others); it counts what it drops.

#include "alerts/AlertEvent.h"

#include <QList>
#include <QString>
#include <functional>

class AlertQueue
{
public:
    static constexpr int DefaultCapacity = 500;
    // Far above what DefaultCapacity entries take; a bigger file is no queue
    // this program wrote, and reading it would cost seconds and memory.
    static constexpr qint64 MaxFileBytes = 8 * 1024 * 1024;

    // Reads the file if there is one, never blocking on a FIFO or device;
    // a file that is damaged, too big or not a regular file is moved aside
    // (".bad") and the queue starts empty. Temporary files of a write a
    // crash cut short are removed.
    explicit AlertQueue(QString path, int capacity = DefaultCapacity);

    QString path() const { return m_path; }
    bool isEmpty() const { return m_entries.isEmpty(); }
    int size() const { return static_cast<int>(m_entries.size()); }
    const AlertEvent &head() const { return m_entries.first(); }
    // What goes out next: the oldest that urgent() picks, else the oldest.
    const AlertEvent &next(const std::function<bool(const AlertEvent &)> &urgent) const;
    const QList<AlertEvent> &entries() const { return m_entries; }
    quint64 dropped() const { return m_dropped; }
    // Why the file found at start was set aside; empty when it was not.
    QString problem() const { return m_problem; }

    // Each returns whether the file was written; the change is kept in
    // memory in any case and written again with the next change.
    bool push(const AlertEvent &event);
    // Removes the first alert equal to event; false when there is none.
    bool remove(const AlertEvent &event);
    // The first alert equal to event loses its file; false when there is none.
    bool dropAttachment(const AlertEvent &event);
    // The alerts that first() picks go ahead of the others, each kind in
    // its order; false when none moved.
    bool moveToFront(const std::function<bool(const AlertEvent &)> &first);

    // Full path of the queue file beside the settings file.
    static QString DefaultPath(const QString &settingsFile);

private:
    bool save() const;
    void load();
    void dropOne();
    void setAside(const QString &why);
    void removeLeftovers() const;

    QString m_path;
    int m_capacity;
    QList<AlertEvent> m_entries;
    quint64 m_dropped = 0;
    bool m_lastPushedAlarm = false;
    QString m_problem;
};
