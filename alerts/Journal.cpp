#include "alerts/Journal.h"

#include <QFileInfo>
#include <sys/uio.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <vector>

namespace {
Journal::Sink &TestSink()
{
    static Journal::Sink sink;
    return sink;
}

// Field values are single lines; a stray line break would still be kept by
// the journal, but must not make a syslog line look like two.
QByteArray OneLine(const QString &text)
{
    QString flat = text;
    flat.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return flat.toUtf8();
}
} // namespace

QList<QByteArray> Journal::Fields(const QString &message, const QString &line, bool alarm)
{
    return {QByteArray("PRIORITY=") + QByteArray::number(alarm ? LOG_WARNING : LOG_INFO),
            QByteArray("SYSLOG_IDENTIFIER=tarvo2"), QByteArray("TARVO2_EVENT=") + OneLine(message),
            QByteArray("MESSAGE=") + OneLine(line)};
}

void Journal::SetSinkForTests(Sink sink)
{
    TestSink() = std::move(sink);
}

bool Journal::Write(const QString &message, const QString &line, bool alarm)
{
    const QList<QByteArray> fields = Fields(message, line, alarm);
    if (TestSink()) {
        TestSink()(fields);
        return true;
    }
    // Test runs keep the developer's own journal and syslog clean.
    static const bool quiet = qEnvironmentVariableIsSet("TARVO2_NO_SYSTEM_LOG");
    if (quiet)
        return false;
    static const bool journalThere =
        QFileInfo::exists(QStringLiteral("/run/systemd/journal/socket"));
    if (journalThere) {
        std::vector<iovec> parts;
        for (const QByteArray &field : fields)
            parts.push_back(
                {const_cast<char *>(field.constData()), static_cast<size_t>(field.size())});
        if (sd_journal_sendv(parts.data(), static_cast<int>(parts.size())) >= 0)
            return true;
    }
    static const bool opened = [] {
        openlog("tarvo2", LOG_PID, LOG_USER);
        return true;
    }();
    Q_UNUSED(opened);
    syslog(alarm ? LOG_WARNING : LOG_INFO, "%s", OneLine(line).constData());
    return false;
}
