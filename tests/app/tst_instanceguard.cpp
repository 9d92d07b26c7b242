// The single-instance guard against a hostile or odd system: folders someone
// else made first, copies started with different environments, a peer of
// another user on the socket, a failed accept() and an over-long socket path.

#include "app/SingleInstance.h"
#include "common/TestMain.h"

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <optional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t Nobody = 65534;

// The child's side: a program start with its own environment.
int RunChild()
{
    SingleInstance instance;
    if (instance.tryBecomePrimary()) {
        QObject::connect(&instance, &SingleInstance::restoreRequested, [] {
            std::puts("RESTORE");
            std::fflush(stdout);
        });
        std::puts("PRIMARY");
        std::fflush(stdout);
        QTimer::singleShot(20000, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
        return 0;
    }
    std::puts(instance.sendRestoreRequest(5000) ? "SECONDARY 1" : "SECONDARY 0");
    return 0;
}

sockaddr_un Address(const QString &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    std::memcpy(address.sun_path, bytes.constData(),
                std::min<std::size_t>(bytes.size(), sizeof address.sun_path - 1));
    return address;
}

// Forks a child that runs as nobody with a new local socket in *fd; the
// child's pid in the parent (-1 when fork failed), 0 in the child. A child
// that cannot become nobody exits 2.
pid_t ForkAsNobody(int *fd)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    if (::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)
        ::_exit(2);
    *fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (*fd < 0)
        ::_exit(2);
    return 0;
}

// In a child running as nobody: connects to path and sends request; exits 1
// when the running copy answered "ok", 0 when it refused, 2 on other errors.
pid_t ConnectAsNobody(const QString &path, const QByteArray &request)
{
    const sockaddr_un address = Address(path);
    int fd = -1;
    if (const pid_t pid = ForkAsNobody(&fd))
        return pid;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        ::_exit(2);
    if (::write(fd, request.constData(), std::size_t(request.size())) < 0)
        ::_exit(0); // already shut out
    char reply[16] = {};
    const ssize_t got = ::read(fd, reply, sizeof reply - 1);
    ::_exit(got == 3 && std::strcmp(reply, "ok\n") == 0 ? 1 : 0);
}

// In a child running as nobody: listens on path and writes every byte a
// client sends to the pipe `report`.
pid_t ListenAsNobody(const QString &path, int report)
{
    const sockaddr_un address = Address(path);
    int fd = -1;
    if (const pid_t pid = ForkAsNobody(&fd))
        return pid;
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0)
        ::_exit(2);
    (void)::write(report, "L", 1);
    for (;;) {
        const int client = ::accept(fd, nullptr, nullptr);
        if (client < 0)
            ::_exit(2);
        char buffer[256];
        ssize_t got;
        while ((got = ::read(client, buffer, sizeof buffer)) > 0)
            (void)::write(report, buffer, std::size_t(got));
        ::close(client);
    }
}

// A test's candidates: no system runtime folder, then a private one.
QStringList Candidates(const QTemporaryDir &base)
{
    return {base.filePath(QStringLiteral("run-missing")), base.filePath(QStringLiteral("guard"))};
}

int WaitChild(pid_t pid)
{
    int status = 0;
    QDeadlineTimer deadline(20000);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (deadline.hasExpired()) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        QTest::qWait(20); // this process serves the socket meanwhile
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

class TestInstanceGuard : public QObject
{
    Q_OBJECT

public:
    TestInstanceGuard()
    {
        if (qEnvironmentVariableIsSet("TARVO2_GUARD_CHILD"))
            std::exit(RunChild());
    }

private Q_SLOTS:
    void folderChoice_data();
    void folderChoice();
    void candidatesIgnoreEnvironment();
    void copiesWithDifferentEnvironmentsFindOneLock_data();
    void copiesWithDifferentEnvironmentsFindOneLock();
    void runtimeFolderAppearingLaterFindsRunningCopy();
    void otherUserIsNotServed();
    void otherUsersServerGetsNoRequest();
    void failedAcceptDoesNotEndListening();
    void overlongSocketPathGetsShortName();
};

void TestInstanceGuard::folderChoice_data()
{
    QTest::addColumn<QString>("first");  // the system runtime folder
    QTest::addColumn<QString>("second"); // first private candidate
    QTest::addColumn<int>("chosen");     // 0, 1, 2 or -1 for none
    // Kinds: missing, mine, mine-open, foreign, symlink, file.
    const struct
    {
        const char *name, *first, *second;
        int chosen;
    } rows[] = {
        {"runtime folder of the system", "mine", "mine", 0},
        {"no runtime folder: private one made", "missing", "missing", 1},
        {"runtime folder of another user", "foreign", "missing", 1},
        {"squatted private folder: next one", "missing", "foreign", 2},
        {"own folder open to others is closed", "missing", "mine-open", 1},
        {"symbolic link is not followed", "missing", "symlink", 2},
        {"a file in the way", "file", "file", 2},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.first) << QString::fromLatin1(row.second)
                                << row.chosen;
}

void TestInstanceGuard::folderChoice()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(int, chosen);
    QTemporaryDir base;
    const uid_t me = ::getuid();
    if (me != 0 && (first == QLatin1String("foreign") || second == QLatin1String("foreign")))
        QSKIP("needs root to give a folder to another user");
    const QString target = base.filePath(QStringLiteral("target"));
    QDir().mkdir(target);
    auto make = [&](const QString &path, const QString &kind) {
        const QByteArray p = QFile::encodeName(path);
        if (kind == QLatin1String("mine") || kind == QLatin1String("mine-open") ||
            kind == QLatin1String("foreign")) {
            QVERIFY(::mkdir(p.constData(), kind == QLatin1String("mine") ? 0700 : 0777) == 0);
            ::chmod(p.constData(), kind == QLatin1String("mine") ? 0700 : 0777);
            if (kind == QLatin1String("foreign"))
                QVERIFY(::chown(p.constData(), Nobody, Nobody) == 0);
        } else if (kind == QLatin1String("symlink")) {
            QVERIFY(QFile::link(target, path));
        } else if (kind == QLatin1String("file")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    };
    const QStringList candidates{base.filePath(QStringLiteral("run")),
                                 base.filePath(QStringLiteral("tmp-1")),
                                 base.filePath(QStringLiteral("tmp-2"))};
    make(candidates[0], first);
    make(candidates[1], second);

    QStringList refused;
    const QString folder = SingleInstance::ChooseFolder(candidates, me, &refused);
    QCOMPARE(folder, chosen < 0 ? QString() : candidates.at(chosen));
    struct stat st
    {
    };
    QVERIFY(::lstat(QFile::encodeName(folder).constData(), &st) == 0);
    QVERIFY(S_ISDIR(st.st_mode));
    QCOMPARE(st.st_uid, me);
    QCOMPARE(int(st.st_mode & 0777), 0700);
    // The system's runtime folder is never made by us.
    if (first == QLatin1String("missing"))
        QVERIFY(!QFileInfo::exists(candidates[0]));
    if (second == QLatin1String("foreign") || first == QLatin1String("foreign"))
        QVERIFY(!refused.isEmpty());
}

void TestInstanceGuard::candidatesIgnoreEnvironment()
{
    const QStringList before = SingleInstance::CandidateFolders(::getuid());
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray tmp = qgetenv("TMPDIR");
    qputenv("XDG_RUNTIME_DIR", "/elsewhere");
    qputenv("TMPDIR", "/elsewhere/tmp");
    const QStringList after = SingleInstance::CandidateFolders(::getuid());
    qputenv("XDG_RUNTIME_DIR", runtime);
    qputenv("TMPDIR", tmp);
    QCOMPARE(after, before);
    QCOMPARE(before.first(), QStringLiteral("/run/user/%1").arg(::getuid()));
    for (const QString &folder : before)
        QVERIFY(!folder.startsWith(QLatin1String("/elsewhere")));
}

void TestInstanceGuard::copiesWithDifferentEnvironmentsFindOneLock_data()
{
    QTest::addColumn<bool>("firstHasRuntime");
    QTest::newRow("first with XDG_RUNTIME_DIR, second without") << true;
    QTest::newRow("first without XDG_RUNTIME_DIR, second with") << false;
}

void TestInstanceGuard::copiesWithDifferentEnvironmentsFindOneLock()
{
    QFETCH(bool, firstHasRuntime);
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    auto start = [&](bool withRuntime) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARVO2_GUARD_CHILD"), QStringLiteral("1"));
        if (withRuntime)
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        else
            env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.insert(QStringLiteral("TMPDIR"), runtime.path());
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QCoreApplication::applicationFilePath(), {});
        return process;
    };
    auto first = start(firstHasRuntime);
    QString out;
    QTRY_VERIFY_WITH_TIMEOUT(
        (out += QString::fromLatin1(first->readAllStandardOutput())).contains(u"PRIMARY"), 20000);
    auto second = start(!firstHasRuntime);
    QVERIFY(second->waitForFinished(30000));
    QCOMPARE(second->readAllStandardOutput().trimmed(), QByteArray("SECONDARY 1"));
    QTRY_VERIFY_WITH_TIMEOUT(
        (out += QString::fromLatin1(first->readAllStandardOutput())).contains(u"RESTORE"), 10000);
    first->kill();
    first->waitForFinished(5000);
}

void TestInstanceGuard::runtimeFolderAppearingLaterFindsRunningCopy()
{
    QTemporaryDir base;
    const QStringList candidates = Candidates(base); // the first one is missing
    std::optional<SingleInstance> early;
    early.emplace(QStringLiteral("late-runtime"), candidates);
    QCOMPARE(early->folder(), candidates.at(1));
    QVERIFY(early->tryBecomePrimary());

    // The system's runtime folder shows up (a log-in after a start from cron).
    QVERIFY(QDir().mkdir(candidates.at(0)));
    QFile::setPermissions(candidates.at(0), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    SingleInstance late(QStringLiteral("late-runtime"), candidates);
    QCOMPARE(late.folder(), candidates.at(0));
    QVERIFY(!late.tryBecomePrimary());
    QCOMPARE(late.serverPath(), early->serverPath()); // the request goes to the running copy

    // With the early copy gone, a start in the runtime folder runs.
    early.reset();
    SingleInstance next(QStringLiteral("late-runtime"), candidates);
    QVERIFY(next.tryBecomePrimary());
    QCOMPARE(next.folder(), candidates.at(0));
}

void TestInstanceGuard::otherUserIsNotServed()
{
    if (::getuid() != 0)
        QSKIP("needs root to act as another user");
    QTemporaryDir base;
    const QString folder = base.filePath(QStringLiteral("guard"));
    SingleInstance running(QStringLiteral("peer"), Candidates(base));
    QVERIFY(running.tryBecomePrimary());
    QSignalSpy restore(&running, &SingleInstance::restoreRequested);
    // Let the other user reach the socket at all, to see the second check.
    ::chmod(QFile::encodeName(base.path()).constData(), 0755);
    ::chmod(QFile::encodeName(folder).constData(), 0711);
    ::chmod(QFile::encodeName(running.serverPath()).constData(), 0777);
    qunsetenv("XDG_ACTIVATION_TOKEN");

    const pid_t stranger = ConnectAsNobody(running.serverPath(), "restore stolen-token\n");
    QCOMPARE(WaitChild(stranger), 0);
    QCOMPARE(restore.count(), 0);
    QVERIFY(!qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));
    QVERIFY(running.isListening());

    // The same request from this user is served.
    QLocalSocket own;
    own.connectToServer(running.serverPath());
    QVERIFY(own.waitForConnected(5000));
    own.write("restore\n");
    QTRY_COMPARE_WITH_TIMEOUT(restore.count(), 1, 10000);
}

void TestInstanceGuard::otherUsersServerGetsNoRequest()
{
    if (::getuid() != 0)
        QSKIP("needs root to act as another user");
    QTemporaryDir base;
    const QString folder = base.filePath(QStringLiteral("guard"));
    SingleInstance second(QStringLiteral("peer"), Candidates(base));
    // Someone else's server sits where the running copy's should be.
    ::chmod(QFile::encodeName(base.path()).constData(), 0755);
    ::chmod(QFile::encodeName(folder).constData(), 0777);
    int pipe[2];
    QVERIFY(::pipe(pipe) == 0);
    const pid_t stranger = ListenAsNobody(second.serverPath(), pipe[1]);
    ::close(pipe[1]);
    char ready = 0;
    QCOMPARE(::read(pipe[0], &ready, 1), ssize_t(1));

    qputenv("XDG_ACTIVATION_TOKEN", "secret-token");
    QVERIFY(!second.sendRestoreRequest(2000));
    qunsetenv("XDG_ACTIVATION_TOKEN");
    ::kill(stranger, SIGKILL);
    ::waitpid(stranger, nullptr, 0);
    QByteArray received;
    char buffer[256];
    ssize_t got;
    while ((got = ::read(pipe[0], buffer, sizeof buffer)) > 0)
        received.append(buffer, got);
    ::close(pipe[0]);
    QCOMPARE(received, QByteArray());
}

void TestInstanceGuard::failedAcceptDoesNotEndListening()
{
    QTemporaryDir base;
    SingleInstance running(QStringLiteral("accept"), Candidates(base));
    QVERIFY(running.tryBecomePrimary());
    QVERIFY(running.isListening());
    QSignalSpy restore(&running, &SingleInstance::restoreRequested);

    // Use up every file descriptor, then let a client knock: accept() fails.
    const int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    QVERIFY(client >= 0);
    rlimit saved{};
    QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
    rlimit low = saved;
    low.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 512);
    QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
    std::vector<int> hog;
    for (int fd; (fd = ::dup(0)) >= 0;)
        hog.push_back(fd);
    QCOMPARE(errno, EMFILE);
    const sockaddr_un address = Address(running.serverPath());
    QVERIFY(::connect(client, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0);
    QTest::qWait(300); // the server tries to accept and fails
    for (int fd : hog)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ::close(client);

    // Listening again, and a restore request gets through.
    QTRY_VERIFY_WITH_TIMEOUT(running.isListening(), 10000);
    QLocalSocket later;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            if (later.state() != QLocalSocket::ConnectedState) {
                later.abort();
                later.connectToServer(running.serverPath());
                if (!later.waitForConnected(1000))
                    return false;
                later.write("restore\n");
            }
            return true;
        }(),
        10000);
    QTRY_COMPARE_WITH_TIMEOUT(restore.count(), 1, 10000);
}

void TestInstanceGuard::overlongSocketPathGetsShortName()
{
    QTemporaryDir base;
    QString folder = base.filePath(QStringLiteral("guard"));
    while (QFile::encodeName(folder).size() < 70)
        folder += QStringLiteral("/deeper-folder");
    const QString name = QStringLiteral("a-rather-long-instance-name-for-this-test");
    const QStringList candidates{base.filePath(QStringLiteral("run-missing")), folder};
    QVERIFY(QDir().mkpath(folder));
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    SingleInstance running(name, candidates);
    QVERIFY(QFile::encodeName(folder + u'/' + name + QStringLiteral(".socket")).size() >
            int(sizeof(sockaddr_un{}.sun_path)) - 1);
    QVERIFY(running.tryBecomePrimary());
    QVERIFY(running.isListening());
    QVERIFY(running.serverPath().startsWith(folder + u'/'));
    QVERIFY(QFile::encodeName(running.serverPath()).size() < int(sizeof(sockaddr_un{}.sun_path)));
    // A later copy of the same name finds that socket.
    QCOMPARE(SingleInstance(name, candidates).serverPath(), running.serverPath());
    QSignalSpy restore(&running, &SingleInstance::restoreRequested);
    QLocalSocket client;
    client.connectToServer(running.serverPath());
    QVERIFY(client.waitForConnected(5000));
    client.write("restore\n");
    QTRY_COMPARE_WITH_TIMEOUT(restore.count(), 1, 10000);
}

TARVO_TEST_MAIN(TestInstanceGuard)
#include "tst_instanceguard.moc"
