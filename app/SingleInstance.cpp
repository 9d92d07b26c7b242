#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
const QByteArray RequestWord = QByteArrayLiteral("restore");
// A request of the command line (arm, disarm, status), answered in one line.
const QByteArray CommandWord = QByteArrayLiteral("command");
const QByteArray ReplyWord = QByteArrayLiteral("ok\n");
// A request is one short line; anything longer is not from us.
constexpr qsizetype MaxRequestBytes = 4096;
constexpr qsizetype MaxTokenBytes = 1024;
constexpr int ClientMilliseconds = 5000;
constexpr int ConnectRetryMilliseconds = 50;
constexpr qint64 OwnerlessLockMilliseconds = 5000;
constexpr int RelistenMilliseconds = 1000;
constexpr int TmpCandidates = 4;

// sockaddr_un's path holds 107 bytes before its final zero; QLocalServer
// with access options binds in a temporary folder beside the name
// ("<name>.XXXXXX/s") first, which takes 9 more.
constexpr qsizetype MaxSocketPath = qsizetype(sizeof(sockaddr_un{}.sun_path)) - 1 - 9;

// Checks (and where it is ours, repairs) one candidate folder. Never follows
// a symbolic link: lstat describes the name itself.
bool FolderIsPrivate(const QString &folder, uid_t uid, bool create, QString *why)
{
    const QByteArray path = QFile::encodeName(folder);
    struct stat st
    {
    };
    if (::lstat(path.constData(), &st) != 0) {
        if (errno != ENOENT || !create) {
            *why = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
            *why = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        if (::lstat(path.constData(), &st) != 0) {
            *why = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
    }
    if (!S_ISDIR(st.st_mode)) {
        *why = QStringLiteral("not a folder");
        return false;
    }
    if (st.st_uid != uid) {
        *why = QStringLiteral("owned by user id %1").arg(st.st_uid);
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        // Ours, but others may enter: close it, then look again.
        if (::chmod(path.constData(), 0700) != 0 || ::lstat(path.constData(), &st) != 0 ||
            (st.st_mode & 077) != 0 || st.st_uid != uid) {
            *why = QStringLiteral("open to other users");
            return false;
        }
    }
    return true;
}

// Activation tokens are opaque but printable; anything else is dropped so
// that nothing odd reaches the environment.
bool IsPlausibleToken(const QByteArray &token)
{
    if (token.isEmpty() || token.size() > MaxTokenBytes)
        return false;
    return std::all_of(token.begin(), token.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

// A crash between creating the lock file and writing the owner into it
// leaves a file that QLockFile can never call stale. Young ones are left
// alone: their owner may be writing right now.
bool HoldsNoOwner(const QString &lockFile)
{
    QLockFile probe(lockFile);
    qint64 pid = 0;
    QString host, application;
    if (probe.getLockInfo(&pid, &host, &application))
        return false;
    const QFileInfo info(lockFile);
    return info.exists() && qAbs(info.lastModified().msecsTo(QDateTime::currentDateTime())) >
                                OwnerlessLockMilliseconds;
}
// Whether a live copy holds this lock (probing takes and drops it when free).
bool HeldByAnother(const QString &lockFile)
{
    QLockFile probe(lockFile);
    probe.setStaleLockTime(0);
    if (probe.tryLock(0)) {
        probe.unlock();
        return false;
    }
    return probe.error() == QLockFile::LockFailedError;
}
} // namespace

SingleInstance::SingleInstance(const QString &name, QObject *parent)
    : SingleInstance(name, CandidateFolders(::getuid()), parent)
{
}

SingleInstance::SingleInstance(const QString &name, const QStringList &candidateFolders,
                               QObject *parent)
    : QObject(parent), m_name(name), m_candidates(candidateFolders)
{
    QStringList refused;
    m_folder = ChooseFolder(candidateFolders, ::getuid(), &refused);
    // The other private candidates that exist now: a copy started before
    // /run/user/<uid> appeared (or before a squatter left) holds its lock
    // in one of them.
    for (const QString &candidate : candidateFolders) {
        QString why;
        if (candidate != m_folder && FolderIsPrivate(candidate, ::getuid(), false, &why))
            m_otherFolders.append(candidate);
    }
    for (const QString &line : std::as_const(refused))
        qWarning("SingleInstance: not using %s", qPrintable(line));
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::AcceptConnection);
    m_relisten.setInterval(RelistenMilliseconds);
    connect(&m_relisten, &QTimer::timeout, this, [this] {
        if (!m_server.isListening())
            Listen();
    });
}

QString SingleInstance::DefaultName()
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    const QString test = qEnvironmentVariable("TARVO2_TEST_INSTANCE");
    if (plain.match(test).hasMatch())
        return QStringLiteral("Tarvo2-") + test;
    return QStringLiteral("Tarvo2");
}

QStringList SingleInstance::CandidateFolders(uid_t uid)
{
    const QString id = QString::number(uid);
    // Fixed paths, not $TMPDIR or $XDG_RUNTIME_DIR: every copy must agree.
    QStringList folders{QStringLiteral("/run/user/") + id};
    for (int n = 1; n <= TmpCandidates; ++n)
        folders << QStringLiteral("/tmp/tarvo2-") + id +
                       (n == 1 ? QString() : QLatin1Char('-') + QString::number(n));
    // The home from the user database (not $HOME): ours even if /tmp is full
    // of someone else's folders.
    if (const passwd *entry = ::getpwuid(uid); entry && entry->pw_dir && *entry->pw_dir)
        folders << QFile::decodeName(entry->pw_dir) + QStringLiteral("/.tarvo2-run");
    return folders;
}

QString SingleInstance::ChooseFolder(const QStringList &candidates, uid_t uid, QStringList *refused)
{
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        QString why;
        // The first one is the system's runtime folder: it is made at log-in,
        // never by us.
        if (FolderIsPrivate(candidates.at(i), uid, i > 0, &why))
            return candidates.at(i);
        if (refused && why != QString::fromLocal8Bit(std::strerror(ENOENT)))
            refused->append(candidates.at(i) + QStringLiteral(": ") + why);
    }
    return {};
}

bool SingleInstance::PeerIsSameUser(qintptr descriptor)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (descriptor < 0 ||
        ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        size != sizeof credentials)
        return false;
    return credentials.uid == ::getuid();
}

SingleInstance::~SingleInstance()
{
    m_server.close();
    if (m_lock)
        m_lock->unlock();
}

QString SingleInstance::lockFilePath() const
{
    return QDir(m_folder).filePath(m_name + QStringLiteral(".lock"));
}

QString SingleInstance::serverPath() const
{
    const QString path = QDir(m_folder).filePath(m_name + QStringLiteral(".socket"));
    if (QFile::encodeName(path).size() <= MaxSocketPath)
        return path;
    // Too long for a socket address: a short name in the same private folder
    // (a folder path alone that long has no usable socket at all).
    const QByteArray hash =
        QCryptographicHash::hash(m_name.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QDir(m_folder).filePath(QStringLiteral("s-") + QString::fromLatin1(hash));
}

bool SingleInstance::tryBecomePrimary()
{
    if (m_primary)
        return true;
    if (m_folder.isEmpty()) {
        qWarning("SingleInstance: no private folder for the lock; running unguarded");
        m_primary = true;
        return true;
    }
    const QString ownFolder = m_folder;
    auto runningElsewhere = [&](bool earlierOnly) {
        for (const QString &other : std::as_const(m_otherFolders)) {
            if (earlierOnly && m_candidates.indexOf(other) > m_candidates.indexOf(ownFolder))
                continue;
            m_folder = other;
            if (HeldByAnother(lockFilePath()))
                return true; // requests go to that copy's folder
        }
        m_folder = ownFolder;
        return false;
    };
    if (runningElsewhere(false))
        return false;
    m_lock = std::make_unique<QLockFile>(lockFilePath());
    // A live holder is never stale, however long it has run; a dead one
    // (crash, kill -9) is recognised by its process id and taken over.
    m_lock->setStaleLockTime(0);
    bool locked = m_lock->tryLock(0);
    if (!locked && m_lock->error() == QLockFile::LockFailedError && HoldsNoOwner(lockFilePath())) {
        m_lock->removeStaleLockFile();
        locked = m_lock->tryLock(0);
    }
    if (!locked) {
        if (m_lock->error() == QLockFile::LockFailedError)
            return false;
        // The runtime folder is unusable: run rather than refuse to guard.
        qWarning("SingleInstance: cannot create %s; running unguarded", qPrintable(lockFilePath()));
    }
    // Two copies that started together in different folders: the one in
    // the later folder gives way.
    if (locked && runningElsewhere(true)) {
        m_lock->unlock();
        return false;
    }
    m_primary = true;
    Listen();
    m_relisten.start();
    return true;
}

void SingleInstance::Listen()
{
    // We hold the lock, so a socket file there is a crashed copy's.
    QLocalServer::removeServer(serverPath());
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(serverPath()) && !m_relisten.isActive())
        qWarning("SingleInstance: cannot listen on %s: %s", qPrintable(serverPath()),
                 qPrintable(m_server.errorString()));
}

bool SingleInstance::sendRestoreRequest(int timeoutMs)
{
    QByteArray request = RequestWord;
    const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
    if (IsPlausibleToken(token))
        request += ' ' + token;
    const std::optional<QByteArray> reply = Exchange(request, timeoutMs);
    return reply && *reply + '\n' == ReplyWord;
}

std::optional<QByteArray> SingleInstance::sendCommand(const QByteArray &command, int timeoutMs)
{
    if (m_folder.isEmpty())
        return std::nullopt;
    // The running copy's folder: ours, or one it took before ours existed.
    const QString ownFolder = m_folder;
    for (const QString &folder : QStringList{ownFolder} + m_otherFolders) {
        m_folder = folder;
        if (HeldByAnother(lockFilePath())) {
            const std::optional<QByteArray> reply = Exchange(CommandWord + ' ' + command, timeoutMs);
            m_folder = ownFolder;
            return reply;
        }
    }
    m_folder = ownFolder;
    return std::nullopt;
}

std::optional<QByteArray> SingleInstance::Exchange(const QByteArray &request, int timeoutMs)
{
    if (m_folder.isEmpty())
        return std::nullopt;
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    // The running copy may have taken the lock a moment ago and not listen yet.
    for (;;) {
        socket.connectToServer(serverPath());
        if (socket.waitForConnected(int(std::max<qint64>(deadline.remainingTime(), 0))))
            break;
        if (deadline.hasExpired())
            return std::nullopt;
        QThread::msleep(ConnectRetryMilliseconds);
        if (deadline.hasExpired())
            return std::nullopt;
    }
    // The folder is private, but what crosses goes to this user's copy only.
    if (!PeerIsSameUser(socket.socketDescriptor()))
        return std::nullopt;
    socket.write(request + '\n');
    if (!socket.waitForBytesWritten(int(std::max<qint64>(deadline.remainingTime(), 0))))
        return std::nullopt;

    // Delivered means confirmed: a hung copy accepts the bytes into the
    // socket buffer but never answers.
    QByteArray reply;
    while (!reply.contains('\n') && !deadline.hasExpired()) {
        if (!socket.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 0))))
            break;
        reply += socket.readAll();
    }
    if (!reply.contains('\n'))
        return std::nullopt;
    return reply.left(reply.indexOf('\n'));
}

void SingleInstance::AcceptConnection()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        if (!PeerIsSameUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadRequest(socket); });
        // A client that never finishes its line is let go.
        QTimer::singleShot(ClientMilliseconds, socket, [socket] { socket->abort(); });
        if (socket->bytesAvailable() > 0)
            ReadRequest(socket);
    }
}

void SingleInstance::ReadRequest(QLocalSocket *socket)
{
    QByteArray buffer = socket->property("request").toByteArray();
    buffer += socket->read(MaxRequestBytes + 1 - buffer.size());
    if (buffer.size() > MaxRequestBytes) {
        socket->abort();
        return;
    }
    const qsizetype end = buffer.indexOf('\n');
    if (end < 0) {
        socket->setProperty("request", buffer);
        return;
    }
    socket->setProperty("request", QVariant());
    socket->disconnect(this);

    const QByteArray line = buffer.left(end);
    const qsizetype space = line.indexOf(' ');
    const QByteArray word = space < 0 ? line : line.left(space);
    const QByteArray token = space < 0 ? QByteArray() : line.mid(space + 1);
    if (word == CommandWord && m_commandHandler) {
        socket->write(m_commandHandler(token) + '\n');
        socket->flush();
        socket->disconnectFromServer();
        return;
    }
    if (word != RequestWord) {
        socket->abort();
        return;
    }
    socket->write(ReplyWord);
    socket->flush();
    socket->disconnectFromServer();

    const QByteArray acceptedToken = IsPlausibleToken(token) ? token : QByteArray();
    if (!acceptedToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", acceptedToken);
    Q_EMIT restoreRequested(acceptedToken);
}
