#include "app/SingleInstance.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <unistd.h>

namespace {
const QByteArray RequestWord = QByteArrayLiteral("restore");
const QByteArray ReplyWord = QByteArrayLiteral("ok\n");
// A request is one short line; anything longer is not from us.
constexpr qsizetype MaxRequestBytes = 4096;
constexpr qsizetype MaxTokenBytes = 1024;
constexpr int ClientMilliseconds = 5000;
constexpr int ConnectRetryMilliseconds = 50;
constexpr qint64 OwnerlessLockMilliseconds = 5000;

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
} // namespace

SingleInstance::SingleInstance(const QString &name, QObject *parent) : QObject(parent), m_name(name)
{
    m_folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (m_folder.isEmpty()) {
        // The shared temporary folder: the user's id keeps one user's copy
        // from blocking another's.
        m_folder = QDir::tempPath();
        m_name += QLatin1Char('-') + QString::number(::getuid());
    }
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::AcceptConnection);
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
    return QDir(m_folder).filePath(m_name + QStringLiteral(".socket"));
}

bool SingleInstance::tryBecomePrimary()
{
    if (m_primary)
        return true;
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
    m_primary = true;

    // We hold the lock, so a socket file there is a crashed copy's.
    QLocalServer::removeServer(serverPath());
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(serverPath()))
        qWarning("SingleInstance: cannot listen on %s: %s", qPrintable(serverPath()),
                 qPrintable(m_server.errorString()));
    return true;
}

bool SingleInstance::sendRestoreRequest(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    // The running copy may have taken the lock a moment ago and not listen yet.
    for (;;) {
        socket.connectToServer(serverPath());
        if (socket.waitForConnected(int(std::max<qint64>(deadline.remainingTime(), 0))))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(ConnectRetryMilliseconds);
        if (deadline.hasExpired())
            return false;
    }

    QByteArray request = RequestWord;
    const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
    if (IsPlausibleToken(token))
        request += ' ' + token;
    request += '\n';
    socket.write(request);
    if (!socket.waitForBytesWritten(int(std::max<qint64>(deadline.remainingTime(), 0))))
        return false;

    // Delivered means confirmed: a hung copy accepts the bytes into the
    // socket buffer but never answers.
    QByteArray reply;
    while (!reply.contains('\n') && !deadline.hasExpired()) {
        if (!socket.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 0))))
            break;
        reply += socket.readAll();
    }
    return reply == ReplyWord;
}

void SingleInstance::AcceptConnection()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
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
