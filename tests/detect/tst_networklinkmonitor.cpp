// The network link monitor over the real rtnetlink in a network namespace of
// the test's own (unshare before anything starts; skips without the right to
// make one), veth pairs as cables. Every case also plugs in a sentinel pair
// s0/s1 and pulls it last: the kernel tells changes in order, so once the
// sentinel's lines are in, all the case's own changes have been seen.

#include "common/TestMain.h"
#include "detect/NetworkLinkMonitor.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <cerrno>
#include <cstring>
#include <sched.h>

namespace {
constexpr int WaitMs = 20000;
QString g_namespaceRefusal;
const QString Cable = QStringLiteral("link add a0 type veth peer name b0\nlink set a0 up\n"
                                     "link set b0 up\n");
const QString Routed = Cable + QStringLiteral("addr add 10.9.0.1/24 dev a0\n"
                                              "route add default via 10.9.0.2\n");
const QString Unplugged = QStringLiteral("Network cable unplugged: %1");

// ip's batch mode on the lines; what went wrong, if anything.
QString RunIp(const QString &lines)
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), {QStringLiteral("-batch"), QStringLiteral("-")});
    ip.write(lines.toUtf8());
    ip.closeWriteChannel();
    if (ip.waitForFinished(WaitMs) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0)
        return {};
    return QStringLiteral("ip: ") + ip.errorString() + u' ' + ip.readAllStandardError();
}

QStringList Texts(const QSignalSpy &spy)
{
    QStringList texts;
    for (const QList<QVariant> &signal : spy)
        texts << signal.at(0).toString();
    return texts;
}
} // namespace

class TestNetworkLinkMonitor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void changes_data();
    void changes();
};

void TestNetworkLinkMonitor::changes_data()
{
    QTest::addColumn<QString>("setup");   // ip batch lines before arming
    QTest::addColumn<QString>("actions"); // and while armed
    QTest::addColumn<QStringList>("expected");
    const QStringList bothEnds{Unplugged.arg(u"a0"), Unplugged.arg(u"b0")};

    QTest::newRow("peer switched off: both ends lose their carrier")
        << Cable << QStringLiteral("link set b0 down\n") << bothEnds;
    QTest::newRow("bounce within a second still counts")
        << Cable << QStringLiteral("link set b0 down\nlink set b0 up\n") << bothEnds;
    QTest::newRow("pair deleted: one line per end")
        << Cable << QStringLiteral("link del a0\n") << bothEnds;
    QTest::newRow("made after arming: not watched")
        << QString()
        << QString(Cable)
                   .replace(QStringLiteral("a0"), QStringLiteral("c0"))
                   .replace(QStringLiteral("b0"), QStringLiteral("d0")) +
               QStringLiteral("link set d0 down\n")
        << QStringList();
    QTest::newRow("no carrier at arming: not watched")
        << QStringLiteral("link add a0 type veth peer name b0\nlink set a0 up\n")
        << QStringLiteral("link set b0 up\nlink set b0 down\n") << QStringList();
    QTest::newRow("default route removed")
        << Routed << QStringLiteral("route del default\n")
        << QStringList{QStringLiteral("Network connection lost: a0")};
    QTest::newRow("switched off with its default route: one line for it")
        << Routed << QStringLiteral("link set a0 down\n") << bothEnds;
}

void TestNetworkLinkMonitor::changes()
{
    QFETCH(QString, setup);
    QFETCH(QString, actions);
    QFETCH(QStringList, expected);
    if (!g_namespaceRefusal.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no network namespace of its own here (unshare: %1); "
                                        "it needs root or CAP_SYS_ADMIN")
                             .arg(g_namespaceRefusal)));
    // The pairs go with their namespace, which is the process's.
    const auto cleanup = qScopeGuard([] {
        for (const char *end : {"s0", "a0", "c0"})
            RunIp(QStringLiteral("link del %1\n").arg(QLatin1String(end)));
    });
    QString error = RunIp(QStringLiteral("link add s0 type veth peer name s1\nlink set s0 up\n"
                                         "link set s1 up\n") +
                          setup);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    NetworkLinkMonitor monitor;
    QSignalSpy intrusions(&monitor, &NetworkLinkMonitor::intrusion);
    QVERIFY2(monitor.start(), qPrintable(monitor.unavailableReason()));
    QTRY_VERIFY_WITH_TIMEOUT(monitor.isWatching(), WaitMs);
    error = RunIp(actions + QStringLiteral("link set s1 down\n"));
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const QStringList sentinel{Unplugged.arg(u"s0"), Unplugged.arg(u"s1")};
    QTRY_VERIFY_WITH_TIMEOUT(Texts(intrusions).contains(sentinel.at(0)) &&
                                 Texts(intrusions).contains(sentinel.at(1)),
                             WaitMs);
    QStringList seen = Texts(intrusions);
    for (const QString &line : sentinel)
        seen.removeOne(line);
    seen.sort();
    QCOMPARE(seen, expected);
}

int main(int argc, char **argv)
{
    if (::unshare(CLONE_NEWNET) != 0) // before any thread starts
        g_namespaceRefusal = QString::fromLocal8Bit(strerror(errno));
    tarvo::test::prepareTestHome();
    QApplication app(argc, argv);
    TestNetworkLinkMonitor tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_networklinkmonitor.moc"
