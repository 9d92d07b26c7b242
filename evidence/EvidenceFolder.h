#pragma once
// The folder "Evidence" inside the reports folder: pictures and sound clips named by the
// time they were taken ("2026-12-07_19-25-24_photo.jpg", so the names sort by
// date and time), written through SafeFile (no half files), readable by the
// owner only, and kept within an age and a size limit, oldest first.
// No symbolic link is ever followed: one at the folder's place (or at the
// History folder's) is set aside, so nothing is written, changed or removed
// where it points; a link inside is no picture of this folder.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

class EvidenceFolder
{
public:
    struct Limits
    {
        int keepDays = 30; // 0 keeps every file
        int maxMB = 500;
    };

    // folder ends in '/'.
    explicit EvidenceFolder(QString folder) : m_folder(std::move(folder)) {}
    static QString PathFor(const QString &reportsFolder);
    QString path() const { return m_folder; }
    // The reports of past periods, beside this folder (ends in '/').
    QString historyPath() const;

    // "<date>_<time>_<kind>.<suffix>", with "_2", "_3"... when that name is
    // taken already.
    QString FreeName(const QDateTime &taken, const QString &kind, const QString &suffix) const;
    // Writes a picture as a new file (mode 0600; the folder 0700). Returns
    // its file name, empty with *error when nothing was kept. A folder set
    // aside on the way adds its report line to *setAside.
    QString save(const QDateTime &taken, const QString &kind, const QString &suffix,
                 const QByteArray &bytes, QString *error = nullptr,
                 QStringList *setAside = nullptr) const;
    // Removes pictures, sound clips and history files (ReportHistory, in the
    // reports folder beside this one) older than keepDays before now, then
    // the oldest of them until together they are within maxMB; the file
    // named keep stays in any case. Files whose names neither gave are left
    // alone.
    void prune(const Limits &limits, const QDateTime &now, const QString &keep = QString(),
               QStringList *setAside = nullptr) const;
    // Sets aside whatever but a folder stands at this folder's place or the
    // History folder's (a symbolic link above all); a report line for each.
    QStringList setAsideLinks() const;

    // The full path of the file a report message "Photo saved: <file name>",
    // "Screen saved: …" or "Sound saved: …" names, with *source "Photo",
    // "Screen" or "Sound"; empty for other messages, names not given here or
    // a file gone.
    QString savedFileOfMessage(const QString &message, QString *source = nullptr) const;

    // The time a picture's name tells; invalid for names not given here.
    static QDateTime TakenAt(const QString &fileName);

private:
    QString m_folder;
};
