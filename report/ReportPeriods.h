#pragma once
// What the report window shows of past armed periods, without a window: a
// summary of each history file (begin, end, intrusions) and the pictures a
// report's lines name ("Photo saved: <file>", "Screen saved: <file>").

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringView>

struct ReportPeriod
{
    QString file;    // full path of its history file
    QDateTime begin; // from the file's name
    QDateTime end;   // the last line's time; begin when it has none
    int intrusions = 0;
};

namespace ReportPeriods {

// A line that tells of an intrusion: a detector's event (they end in
// "detected", or are one of the few others the detectors write) or a
// wrong PIN.
bool IsIntrusion(QStringView message);
// The summary of one history file's content.
ReportPeriod Summarize(const QString &file, const QByteArray &content);
// Every history file of the reports folder, newest first. Reads each file:
// run it off the UI thread.
QList<ReportPeriod> Scan(const QString &reportsFolder);

struct Picture
{
    QString path;      // where it is or was; empty when the line names none
    bool photo = true; // else a picture of the screen
    QString time;      // the line's time stamp as written ("07.12.26 19:30")
};
// The picture a report line names in evidenceFolder (ends in '/'), whether
// it is still there or not; names with a path or a leading dot are none.
Picture PictureOfLine(QStringView line, const QString &evidenceFolder);
// "Photo of <time>" / "Screen picture of <time>".
QString AccessibleName(const Picture &picture);

} // namespace ReportPeriods
