#pragma once
// The reports of past armed periods: when arming starts a new report, the
// lines of the period that ends are kept as
// "History/Report-<yyyy-mm-dd_hh-mm-ss>.txt" (the time the period began)
// beside Report.txt, in the report's own line format. Files 0600, the folder
// 0700; a name that is taken (also by a symbolic link) is never written
// through: the next free name is used instead. How long they are kept is
// the evidence's rule (EvidenceFolder::prune counts them in).

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringView>

namespace ReportHistory {

// reportsFolder with or without its final '/'; the result ends in '/'.
QString FolderFor(const QString &reportsFolder);
// The time a history file's name tells; invalid for names not given here.
QDateTime BeganAt(const QString &fileName);
// The time stamp of a report line ("[dd.MM.yy hh:mm] ..."); invalid when
// the line has none.
QDateTime LineTime(QStringView line);
// Writes content as a new history file; its full path, or empty with *error.
QString Keep(const QString &reportsFolder, const QDateTime &began, const QByteArray &content,
             QString *error = nullptr);

} // namespace ReportHistory
