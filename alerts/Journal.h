#pragma once
// Every report line also goes to the system journal (identifier "tarvo2",
// so `journalctl --user -t tarvo2` shows the history that outlives each
// arming), or to syslog where no journal runs.

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

class Journal
{
public:
    // The journal's fields for one line: PRIORITY (warning for an alarm,
    // info otherwise), SYSLOG_IDENTIFIER, TARVO2_EVENT and MESSAGE.
    static QList<QByteArray> Fields(const QString &message, const QString &line, bool alarm);

    // Writes one entry; returns false when the journal was not there and
    // syslog took the line.
    static bool Write(const QString &message, const QString &line, bool alarm);

    // Tests watch what would be written instead of the real journal.
    using Sink = std::function<void(const QList<QByteArray> &fields)>;
    static void SetSinkForTests(Sink sink);
};
