#pragma once
// File writes that lose nothing and file opens that never block.
//
// Replace() writes the new content beside the target and renames it over the
// target only after every byte was written, flushed to the disk and counted:
// a full disk, an I/O error or a crash leaves the complete old content. A
// symbolic link is followed (its final target is replaced, the link stays).
// Nothing here opens a FIFO, a device or a socket in a way that can block:
// anything but a regular file is refused with a message.

#include <QByteArray>
#include <QString>
#include <sys/types.h>

namespace SafeFile {

// Identity of a regular file as last seen: which file and how long.
struct FileId
{
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    qint64 size = 0;
    qint64 mtimeNs = 0;
    qint64 ctimeNs = 0;
    bool operator==(const FileId &) const = default;
};

// Where a write to path lands: the final target of a chain of symbolic
// links (path itself when it is none). Empty with *error on a loop.
QString ResolveTarget(const QString &path, QString *error = nullptr);

// The identity of path (links followed); exists is false when it is missing.
// False with *error when it cannot be examined or is not a regular file.
bool Examine(const QString &path, FileId *id, QString *error = nullptr);

enum class ReadResult
{
    Ok,
    Missing,
    Failed
};
// Reads a whole regular file without ever blocking on a FIFO or device.
ReadResult ReadAll(const QString &path, QByteArray *bytes, QString *error = nullptr,
                   FileId *id = nullptr);

// Replaces the content of path in one atomic step. newFileMode applies when
// path does not exist yet; an existing file keeps its owner's bits and loses
// any the group or others had. written receives the new file's identity.
bool Replace(const QString &path, const QByteArray &bytes, QString *error = nullptr,
             FileId *written = nullptr, mode_t newFileMode = 0600);

// Copies the regular file source over target in one atomic step (0600).
bool CopyReplacing(const QString &source, const QString &target, QString *error = nullptr);

// Appends bytes to path when it is still exactly the file expected (same
// file, same size); otherwise *stale is set and nothing is written. A failed
// append cuts the file back to its expected size, so no torn bytes stay. A
// file the group or others could read is tightened to its owner.
bool Append(const QString &path, const QByteArray &bytes, const FileId &expected, FileId *written,
            bool *stale, QString *error = nullptr);

// Makes path and every missing folder above it with mode 0700, and takes
// the group's and others' rights from path itself when it already exists
// and belongs to this user. False with *error when it cannot be made.
bool MakePrivateFolder(const QString &path, QString *error = nullptr);

// For tests: from now on every write of file content fails with errnoValue
// after allowedBytes bytes of the file; 0 ends the injection.
void InjectWriteFailure(int errnoValue, qint64 allowedBytes = 0);

} // namespace SafeFile
