// The single-instance guard across real processes: this test binary, started
// again with TARVO2_SI_ROLE set, plays a program start (become the running
// copy, or hand a restore request to it and end).

#include "app/SingleInstance.h"
#include "common/TestMain.h"

#include <QDateTime>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>

namespace {

// The child's side: what main() does with the guard.
int RunChild()
{
    qputenv("XDG_RUNTIME_DIR", qgetenv("TARVO2_SI_RUNTIME"));
    const auto print = [](const QByteArray &line) {
        std::fputs(line.constData(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
    // A killed copy cannot clean up its temporary home; the test does.
    print("HOME " + qgetenv("HOME"));
    SingleInstance instance;
    if (instance.tryBecomePrimary()) {
        QObject::connect(&instance, &SingleInstance::restoreRequested,
                         [&](const QByteArray &token) { print("RESTORE " + token); });
        print("PRIMARY");
        QTimer::singleShot(qEnvironmentVariableIntValue("TARVO2_SI_HOLD"), qApp,
                           &QCoreApplication::quit);
        QCoreApplication::exec();
        return 0;
    }
    bool ok = false;
    int timeout = qEnvironmentVariableIntValue("TARVO2_SI_TIMEOUT", &ok);
    print(instance.sendRestoreRequest(ok ? timeout : 2000) ? "SECONDARY 1" : "SECONDARY 0");
    return 0;
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

public:
    TestSingleInstance()
    {
        if (qEnvironmentVariableIsSet("TARVO2_SI_ROLE"))
            std::exit(RunChild());
    }

private Q_SLOTS:
    void init();
    void restoreReachesRunningCopy_data();
    void restoreReachesRunningCopy();
    void junkRequestsAreIgnored_data();
    void junkRequestsAreIgnored();
    void leftoversDoNotBlockNextStart_data();
    void leftoversDoNotBlockNextStart();
    void simultaneousStartsLeaveOne();
    void hungRunningCopyStillLetsSecondEnd();

private:
    std::unique_ptr<QProcess> StartCopy(int holdMs = 20000, const QByteArray &token = QByteArray(),
                                        int timeoutMs = 2000);
    // Everything the copy printed so far, without its HOME line.
    static QByteArray ReadOutput(QProcess &process);
    static bool WaitForLine(QProcess &process, const QByteArray &line, int timeoutMs = 10000);
    static void Finish(QProcess &process);
    static void RemoveHome(QProcess &process);
};

std::unique_ptr<QProcess> TestSingleInstance::StartCopy(int holdMs, const QByteArray &token,
                                                        int timeoutMs)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARVO2_SI_ROLE"), QStringLiteral("start"));
    env.insert(QStringLiteral("TARVO2_SI_RUNTIME"), qEnvironmentVariable("XDG_RUNTIME_DIR"));
    env.insert(QStringLiteral("TARVO2_SI_HOLD"), QString::number(holdMs));
    env.insert(QStringLiteral("TARVO2_SI_TIMEOUT"), QString::number(timeoutMs));
    if (token.isNull())
        env.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
    else
        env.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"), QString::fromLatin1(token));
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QCoreApplication::applicationFilePath(), {});
    return process;
}

bool TestSingleInstance::WaitForLine(QProcess &process, const QByteArray &line, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QByteArray seen = ReadOutput(process);
        if (seen.split('\n').contains(line))
            return true;
        if (process.state() == QProcess::NotRunning)
            return false;
        process.waitForReadyRead(50);
    }
    return false;
}

QByteArray TestSingleInstance::ReadOutput(QProcess &process)
{
    QByteArray all = process.property("output").toByteArray() + process.readAllStandardOutput();
    process.setProperty("output", all);
    QByteArray result;
    for (const QByteArray &line : all.split('\n')) {
        if (line.startsWith("HOME "))
            process.setProperty("home", QString::fromLocal8Bit(line.mid(5)));
        else if (!line.isEmpty())
            result += line + '\n';
    }
    return result;
}

void TestSingleInstance::Finish(QProcess &process)
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
    RemoveHome(process);
}

void TestSingleInstance::RemoveHome(QProcess &process)
{
    const QString home = process.property("home").toString();
    if (home.contains(QLatin1String("/tarvo2-test-")))
        QDir(home).removeRecursively();
}

void TestSingleInstance::init()
{
    // Every case starts from an empty runtime folder.
    SingleInstance probe;
    QFile::remove(probe.lockFilePath());
    QFile::remove(probe.serverPath());
}

void TestSingleInstance::restoreReachesRunningCopy_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("no token") << QByteArray() << QByteArray();
    QTest::newRow("empty token") << QByteArray("") << QByteArray();
    QTest::newRow("activation token")
        << QByteArray("kwin-4711_a9:Zq") << QByteArray("kwin-4711_a9:Zq");
    QTest::newRow("token with a space is not passed on") << QByteArray("a b") << QByteArray();
    QTest::newRow("token with a line break is not passed on")
        << QByteArray("ab\nrestore evil") << QByteArray();
}

void TestSingleInstance::restoreReachesRunningCopy()
{
    QFETCH(QByteArray, token);
    QFETCH(QByteArray, expected);

    qunsetenv("XDG_ACTIVATION_TOKEN");
    SingleInstance running;
    QVERIFY(running.tryBecomePrimary());
    QSignalSpy restore(&running, &SingleInstance::restoreRequested);

    auto second = StartCopy(20000, token);
    // Not waitForFinished: this process must go on serving the socket.
    QTRY_VERIFY_WITH_TIMEOUT(second->state() == QProcess::NotRunning, 15000);
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(ReadOutput(*second).trimmed(), QByteArray("SECONDARY 1"));
    QCOMPARE(restore.count(), 1);
    QCOMPARE(restore.at(0).at(0).toByteArray(), expected);
    if (!expected.isEmpty())
        QCOMPARE(qgetenv("XDG_ACTIVATION_TOKEN"), expected);
    qunsetenv("XDG_ACTIVATION_TOKEN");
}

void TestSingleInstance::junkRequestsAreIgnored_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("restores");
    QTest::newRow("unknown word") << QByteArray("hello\n") << false;
    QTest::newRow("endless line") << QByteArray(20000, 'x') << false;
    QTest::newRow("binary") << QByteArray("\0\xff\x01\n", 4) << false;
    QTest::newRow("overlong token is dropped, request kept")
        << QByteArray("restore " + QByteArray(2000, 't') + "\n") << true;
}

void TestSingleInstance::junkRequestsAreIgnored()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, restores);

    SingleInstance running;
    QVERIFY(running.tryBecomePrimary());
    QSignalSpy restore(&running, &SingleInstance::restoreRequested);

    QLocalSocket client;
    client.connectToServer(running.serverPath());
    QVERIFY(client.waitForConnected(2000));
    client.write(request);
    QTRY_VERIFY_WITH_TIMEOUT(client.state() == QLocalSocket::UnconnectedState, 8000);
    QCOMPARE(restore.count(), restores ? 1 : 0);
    if (restores)
        QVERIFY(restore.at(0).at(0).toByteArray().isEmpty());
}

void TestSingleInstance::leftoversDoNotBlockNextStart_data()
{
    QTest::addColumn<QString>("leftover");
    QTest::newRow("running copy killed") << QStringLiteral("kill");
    QTest::newRow("empty lock file") << QStringLiteral("empty");
    QTest::newRow("garbled lock file") << QStringLiteral("garbled");
}

void TestSingleInstance::leftoversDoNotBlockNextStart()
{
    QFETCH(QString, leftover);
    SingleInstance paths;

    if (leftover == QLatin1String("kill")) {
        auto first = StartCopy();
        QVERIFY(WaitForLine(*first, "PRIMARY"));
        QVERIFY(QFile::exists(paths.lockFilePath()));
        QVERIFY(QFile::exists(paths.serverPath()));
        first->kill(); // SIGKILL: nothing is cleaned up
        QVERIFY(first->waitForFinished(5000));
        RemoveHome(*first);
        QVERIFY(QFile::exists(paths.lockFilePath()));
        QVERIFY(QFile::exists(paths.serverPath()));
    } else {
        QFile lock(paths.lockFilePath());
        QVERIFY(lock.open(QIODevice::WriteOnly));
        if (leftover == QLatin1String("garbled"))
            lock.write("not a lock\n\xff\xfe");
        lock.flush();
        const QDateTime old = QDateTime::currentDateTime().addSecs(-60);
        QVERIFY(lock.setFileTime(old, QFileDevice::FileModificationTime));
        lock.close();
        QFile socket(paths.serverPath());
        QVERIFY(socket.open(QIODevice::WriteOnly)); // a plain file where the socket goes
    }

    auto next = StartCopy();
    QVERIFY2(WaitForLine(*next, "PRIMARY"), "a leftover stopped the next start");
    auto later = StartCopy();
    QVERIFY(later->waitForFinished(10000));
    QCOMPARE(later->exitCode(), 0);
    QCOMPARE(ReadOutput(*later).trimmed(), QByteArray("SECONDARY 1"));
    QVERIFY(WaitForLine(*next, "RESTORE "));
    Finish(*next);
}

void TestSingleInstance::simultaneousStartsLeaveOne()
{
    constexpr int copies = 4;
    std::vector<std::unique_ptr<QProcess>> started;
    for (int i = 0; i < copies; ++i)
        started.push_back(StartCopy(4000));

    int primaries = 0;
    int delivered = 0;
    int restores = 0;
    for (auto &process : started) {
        QVERIFY(process->waitForFinished(20000));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 0);
        const QList<QByteArray> lines = ReadOutput(*process).split('\n');
        primaries += int(lines.count("PRIMARY"));
        delivered += int(lines.count("SECONDARY 1"));
        for (const QByteArray &line : lines)
            restores += line.startsWith("RESTORE") ? 1 : 0;
    }
    QCOMPARE(primaries, 1);
    QCOMPARE(delivered, copies - 1);
    QCOMPARE(restores, copies - 1);
}

void TestSingleInstance::hungRunningCopyStillLetsSecondEnd()
{
    auto first = StartCopy();
    QVERIFY(WaitForLine(*first, "PRIMARY"));
    const qint64 pid = first->processId();
    QCOMPARE(::kill(pid_t(pid), SIGSTOP), 0);

    auto second = StartCopy(0, QByteArray(), 700);
    const bool ended = second->waitForFinished(10000);
    ::kill(pid_t(pid), SIGCONT);
    Finish(*first);
    QVERIFY2(ended, "the second copy hung on a stopped running copy");
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(ReadOutput(*second).trimmed(), QByteArray("SECONDARY 0"));
}

TARVO_TEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
