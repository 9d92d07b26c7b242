#pragma once
// A small file system of its own for tests of full and read-only disks: a
// tmpfs of a few kilobytes mounted on a temporary folder. Mounting needs root
// (as in CI); mounted() is false elsewhere and the caller skips.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cerrno>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace tarvo::test {

class TinyDisk
{
public:
    explicit TinyDisk(int kilobytes = 64)
    {
        const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k,mode=0755";
        m_mounted = m_dir.isValid() && ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(),
                                               "tmpfs", 0, options.constData()) == 0;
    }
    ~TinyDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    TinyDisk(const TinyDisk &) = delete;
    TinyDisk &operator=(const TinyDisk &) = delete;

    bool mounted() const { return m_mounted; }
    QString path() const { return m_dir.path(); }

    // Fills every free byte with a file of its own; false if that failed.
    bool fill()
    {
        const int fd =
            ::open(QFile::encodeName(m_dir.path() + QStringLiteral("/filler")).constData(),
                   O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (fd < 0)
            return false;
        const QByteArray block(512, 'f');
        for (int chunk : {512, 64, 1}) {
            while (::write(fd, block.constData(), size_t(chunk)) == chunk) {
            }
        }
        const bool full = errno == ENOSPC;
        ::close(fd);
        return full;
    }
    void makeRoom() { QFile::remove(m_dir.path() + QStringLiteral("/filler")); }

    bool setReadOnly(bool readOnly)
    {
        const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        return ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", flags,
                       nullptr) == 0;
    }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};

} // namespace tarvo::test
