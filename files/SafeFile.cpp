#include "files/SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SafeFile {
namespace {

std::atomic<int> g_injectedErrno{0};
std::atomic<qint64> g_injectedAllowed{0};

QByteArray Native(const QString &path)
{
    return QFile::encodeName(path);
}

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

void SetError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

FileId IdOf(const struct stat &st)
{
    FileId id;
    id.exists = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    id.ctimeNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return id;
}

QString NotRegularText(const QString &path)
{
    return QStringLiteral("%1 is not a regular file").arg(path);
}

// Writes all of bytes; counts against an injected failure with offset, the
// number of bytes of this file written before.
bool WriteAll(int fd, const char *data, qint64 size, qint64 offset, int *failure)
{
    qint64 done = 0;
    while (done < size) {
        qint64 chunk = size - done;
        if (const int injected = g_injectedErrno.load()) {
            const qint64 allowed = g_injectedAllowed.load() - offset - done;
            if (allowed <= 0) {
                *failure = injected;
                return false;
            }
            chunk = std::min(chunk, allowed);
        }
        const ssize_t n = ::write(fd, data + done, size_t(chunk));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *failure = errno;
            return false;
        }
        done += n;
    }
    return true;
}

// Opens a regular file for reading; a FIFO or device never blocks the open.
int OpenRegularForReading(const QString &path, QString *error, bool *missing)
{
    *missing = false;
    const int fd = ::open(Native(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int e = errno;
        *missing = e == ENOENT;
        SetError(error, QStringLiteral("%1 could not be opened: %2").arg(path, ErrnoText(e)));
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        SetError(error, NotRegularText(path));
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// A temporary file beside target, on the same file system, so that the
// final rename is atomic.
int CreateTemporary(const QString &target, mode_t mode, QString *tempPath, QString *error)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        *tempPath = target + QStringLiteral(".tmp-") +
                    QString::number(QRandomGenerator::global()->generate64() & 0xffffffffffULL, 36);
        const int fd = ::open(Native(*tempPath).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0) {
            ::fchmod(fd, mode); // the umask must not narrow a kept mode
            return fd;
        }
        if (errno != EEXIST) {
            SetError(error, QStringLiteral("%1: no file could be created there: %2")
                                .arg(QFileInfo(target).absolutePath(), ErrnoText(errno)));
            return -1;
        }
    }
    SetError(error, QStringLiteral("no temporary file could be made beside %1").arg(target));
    return -1;
}

// Fills a new temporary file through fill(fd, offset-aware), checks it and
// renames it over path.
template <typename Fill>
bool ReplaceWith(const QString &path, qint64 expectedSize, Fill fill, QString *error,
                 FileId *written, mode_t newFileMode)
{
    const QString target = ResolveTarget(path, error);
    if (target.isEmpty())
        return false;
    mode_t mode = newFileMode;
    struct stat st;
    if (::stat(Native(target).constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            SetError(error, NotRegularText(path));
            return false;
        }
        // A file the user made read-only stays as it is.
        if (::access(Native(target).constData(), W_OK) != 0) {
            SetError(error, QStringLiteral("%1 is read-only: %2").arg(path, ErrnoText(errno)));
            return false;
        }
        // Kept for the owner only: what the program writes for the user is
        // nobody else's to read, also in a file made before that rule.
        mode = st.st_mode & 0700;
    }
    QString tempPath;
    const int fd = CreateTemporary(target, mode, &tempPath, error);
    if (fd < 0)
        return false;
    int failure = 0;
    const bool filled = fill(fd, &failure);
    struct stat done
    {
    };
    if (filled && ::fsync(fd) != 0)
        failure = errno;
    else if (filled && ::fstat(fd, &done) != 0)
        failure = errno;
    else if (filled && done.st_size != expectedSize)
        failure = EIO; // short file: never let it replace good data
    if (::close(fd) != 0 && failure == 0 && filled)
        failure = errno;
    if (!filled || failure != 0) {
        ::unlink(Native(tempPath).constData());
        SetError(error, QStringLiteral("%1 could not be written: %2")
                            .arg(path, ErrnoText(failure ? failure : EIO)));
        return false;
    }
    if (::rename(Native(tempPath).constData(), Native(target).constData()) != 0) {
        const int e = errno;
        ::unlink(Native(tempPath).constData());
        SetError(error, QStringLiteral("%1 could not be replaced: %2").arg(path, ErrnoText(e)));
        return false;
    }
    // The folder is not synced: after a power cut the rename may be lost,
    // which leaves the complete old file, and it would double the cost.
    if (written)
        *written = IdOf(done);
    return true;
}

} // namespace

QString ResolveTarget(const QString &path, QString *error)
{
    QString current = QFileInfo(path).absoluteFilePath();
    for (int depth = 0; depth < 40; ++depth) {
        const QFileInfo info(current);
        if (!info.isSymLink())
            return current;
        const QString link = info.symLinkTarget(); // absolute, also when dangling
        if (link.isEmpty())
            break;
        current = link;
    }
    SetError(error, QStringLiteral("%1 is a loop of symbolic links").arg(path));
    return {};
}

bool Examine(const QString &path, FileId *id, QString *error)
{
    *id = FileId{};
    struct stat st;
    if (::stat(Native(path).constData(), &st) != 0) {
        if (errno == ENOENT)
            return true;
        SetError(error, QStringLiteral("%1 could not be examined: %2").arg(path, ErrnoText(errno)));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        SetError(error, NotRegularText(path));
        return false;
    }
    *id = IdOf(st);
    return true;
}

ReadResult ReadAll(const QString &path, QByteArray *bytes, QString *error, FileId *id)
{
    bytes->clear();
    if (id)
        *id = FileId{};
    bool missing = false;
    const int fd = OpenRegularForReading(path, error, &missing);
    if (fd < 0)
        return missing ? ReadResult::Missing : ReadResult::Failed;
    struct stat st;
    ::fstat(fd, &st);
    QByteArray data;
    data.resize(qsizetype(st.st_size));
    qint64 got = 0;
    int failure = 0;
    for (;;) {
        if (got == data.size())
            data.resize(data.size() + 64 * 1024); // grew while being read
        const ssize_t n = ::read(fd, data.data() + got, size_t(data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            failure = errno;
            break;
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    if (failure) {
        SetError(error, QStringLiteral("%1 could not be read: %2").arg(path, ErrnoText(failure)));
        return ReadResult::Failed;
    }
    data.truncate(got);
    *bytes = std::move(data);
    if (id) {
        *id = IdOf(st);
        id->size = got;
    }
    return ReadResult::Ok;
}

bool Replace(const QString &path, const QByteArray &bytes, QString *error, FileId *written,
             mode_t newFileMode)
{
    return ReplaceWith(
        path, bytes.size(),
        [&bytes](int fd, int *failure) {
            return WriteAll(fd, bytes.constData(), bytes.size(), 0, failure);
        },
        error, written, newFileMode);
}

bool CopyReplacing(const QString &source, const QString &target, QString *error)
{
    bool missing = false;
    const int in = OpenRegularForReading(source, error, &missing);
    if (in < 0)
        return false;
    struct stat st;
    ::fstat(in, &st);
    qint64 copied = 0;
    int readFailure = 0;
    const bool ok = ReplaceWith(
        target, st.st_size,
        [&](int fd, int *failure) {
            QByteArray buffer(256 * 1024, Qt::Uninitialized);
            for (;;) {
                const ssize_t n = ::read(in, buffer.data(), size_t(buffer.size()));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0) {
                    readFailure = errno;
                    *failure = errno;
                    return false;
                }
                if (n == 0)
                    return true;
                if (!WriteAll(fd, buffer.constData(), n, copied, failure))
                    return false;
                copied += n;
            }
        },
        error, nullptr, 0600);
    ::close(in);
    if (readFailure)
        SetError(error,
                 QStringLiteral("%1 could not be read: %2").arg(source, ErrnoText(readFailure)));
    return ok;
}

bool Append(const QString &path, const QByteArray &bytes, const FileId &expected, FileId *written,
            bool *stale, QString *error)
{
    *stale = false;
    const QString target = ResolveTarget(path, error);
    if (target.isEmpty())
        return false;
    const int fd =
        ::open(Native(target).constData(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENXIO) {
            *stale = errno == ENOENT;
            if (*stale)
                return false;
        }
        SetError(error, QStringLiteral("%1 could not be opened: %2").arg(path, ErrnoText(errno)));
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        SetError(error, NotRegularText(path));
        return false;
    }
    if (st.st_mode & 077)
        ::fchmod(fd, st.st_mode & 0700); // an older, more open file is tightened
    const FileId now = IdOf(st);
    if (!expected.exists || now.device != expected.device || now.inode != expected.inode ||
        now.size != expected.size) {
        ::close(fd);
        *stale = true;
        return false;
    }
    int failure = 0;
    bool ok = WriteAll(fd, bytes.constData(), bytes.size(), 0, &failure);
    if (ok && ::fdatasync(fd) != 0) {
        failure = errno;
        ok = false;
    }
    if (!ok) {
        // Nothing half written stays behind the last whole line.
        if (::ftruncate(fd, expected.size) != 0)
            *stale = true;
        ::close(fd);
        SetError(error,
                 QStringLiteral("%1 could not be written: %2").arg(path, ErrnoText(failure)));
        return false;
    }
    ::fstat(fd, &st);
    ::close(fd);
    if (written)
        *written = IdOf(st);
    return true;
}

bool MakePrivateFolder(const QString &path, QString *error)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QString made;
    for (const QString &part : absolute.split(u'/', Qt::SkipEmptyParts)) {
        made += u'/' + part;
        if (::mkdir(Native(made).constData(), 0700) == 0 || errno == EEXIST)
            continue;
        const int e = errno;
        struct stat existing;
        if (::stat(Native(made).constData(), &existing) == 0 && S_ISDIR(existing.st_mode))
            continue; // there already, only not ours to make
        SetError(error,
                 QStringLiteral("the folder %1 could not be created: %2").arg(made, ErrnoText(e)));
        return false;
    }
    struct stat st;
    if (::stat(Native(absolute).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        SetError(error, QStringLiteral("%1 is not a folder").arg(absolute));
        return false;
    }
    if ((st.st_mode & 077) && st.st_uid == ::geteuid())
        ::chmod(Native(absolute).constData(), st.st_mode & 0700);
    return true;
}

void InjectWriteFailure(int errnoValue, qint64 allowedBytes)
{
    g_injectedAllowed = allowedBytes;
    g_injectedErrno = errnoValue;
}

} // namespace SafeFile
