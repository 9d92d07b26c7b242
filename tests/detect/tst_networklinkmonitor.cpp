// The network link monitor over the real rtnetlink, in a network namespace
// of the test's own (unshare(CLONE_NEWNET) before anything starts; needs
// root or CAP_SYS_ADMIN, else every case skips): veth pairs as cables.
//
// Every case also sets up a sentinel pair s0/s1, and after its actions pulls
// s1: the kernel tells changes in order, so once the sentinel's lines are in,
// everything the actions caused has been seen.

#include "common/TestMain.h"
#include "detect/NetworkLinkMonitor.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <sched.h>

namespace {
constexpr int WaitMs = 20000;
QString g_namespaceRefusal; // why the test has no namespace of its own

// Runs ip's batch mode on lines ("link set b0 down", ...); the error if any.
QString RunIp(const QStringList &lines)
{
    if (lines.isEmpty())
        return {};
    QProcess ip;
    ip.start(QStringLiteral("ip"), {QStringLiteral("-batch"), QStringLiteral("-")});
    ip.write(lines.join(u'\n').toUtf8() + '\n');
    ip.closeWriteChannel();
    if (!ip.waitForFinished(WaitMs) || ip.exitStatus() != QProcess::NormalExit ||
        ip.exitCode() != 0)
        return QStringLiteral("ip failed: ") + QString::fromLocal8Bit(ip.readAllStandardError());
    return {};
}

QStringList Pair(const QString &a, const QString &b, bool bothUp = true)
{
    QStringList lines{QStringLiteral("link add %1 type veth peer name %2").arg(a, b),
                      QStringLiteral("link set %1 up").arg(a)};
    if (bothUp)
        lines << QStringLiteral("link set %1 up").arg(b);
    return lines;
}

// The cables plugged in before arming (s0/s1, a0/b0 where made) have carrier.
bool CarriersOn()
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), {QStringLiteral("-o"), QStringLiteral("link")});
    if (!ip.waitForFinished(WaitMs))
        return false;
    bool sentinel = false;
    for (const QString &line : QString::fromLocal8Bit(ip.readAllStandardOutput()).split(u'\n')) {
        const QString name = line.section(u':', 1, 1).section(u'@', 0, 0).trimmed();
        if (name == u"s0")
            sentinel = true;
        if (QStringList{QStringLiteral("s0"), QStringLiteral("s1"), QStringLiteral("a0"),
                        QStringLiteral("b0")}
                .contains(name) &&
            !line.contains(QStringLiteral("LOWER_UP")))
            return false;
    }
    return sentinel;
}

const QString Unplugged = QStringLiteral("Network cable unplugged: %1");
const QString Lost = QStringLiteral("Network connection lost: %1");
} // namespace

class TestNetworkLinkMonitor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void changes_data();
    void changes();
};

void TestNetworkLinkMonitor::init()
{
    if (!g_namespaceRefusal.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no network namespace of its own here (%1): "
                                        "run as root or with CAP_SYS_ADMIN")
                             .arg(g_namespaceRefusal)));
    if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
        QSKIP("ip (iproute2) is not installed");
}

void TestNetworkLinkMonitor::cleanup()
{
    // Deleting one end deletes its peer; the namespace goes with the process.
    for (const char *end : {"s0", "a0", "n0", "c0"})
        RunIp({QStringLiteral("link del %1").arg(QLatin1String(end))});
}

void TestNetworkLinkMonitor::changes_data()
{
    QTest::addColumn<QStringList>("setup");   // before arming, besides the sentinel
    QTest::addColumn<QStringList>("actions"); // while armed
    QTest::addColumn<QStringList>("expected");

    const QStringList cable = Pair(QStringLiteral("a0"), QStringLiteral("b0"));
    QTest::newRow("peer switched off: both ends lose their carrier")
        << cable << QStringList{QStringLiteral("link set b0 down")}
        << QStringList{Unplugged.arg(u"a0"), Unplugged.arg(u"b0")};
    QTest::newRow("bounce within a second still counts")
        << cable
        << QStringList{QStringLiteral("link set b0 down"), QStringLiteral("link set b0 up")}
        << QStringList{Unplugged.arg(u"a0"), Unplugged.arg(u"b0")};
    QTest::newRow("pair deleted") << cable << QStringList{QStringLiteral("link del a0")}
                                  << QStringList{Unplugged.arg(u"a0"), Unplugged.arg(u"b0")};
    QTest::newRow("created after arming is not watched")
        << QStringList{}
        << Pair(QStringLiteral("c0"), QStringLiteral("d0")) +
               QStringList{QStringLiteral("link set d0 down")}
        << QStringList{};
    QTest::newRow("without carrier at arming is not watched")
        << Pair(QStringLiteral("n0"), QStringLiteral("n1"), false)
        << QStringList{QStringLiteral("link set n1 up"), QStringLiteral("link set n1 down")}
        << QStringList{};

    const QStringList routed =
        cable + QStringList{QStringLiteral("addr add 10.9.0.1/24 dev a0"),
                            QStringLiteral("route add default via 10.9.0.2")};
    QTest::newRow("default route removed")
        << routed << QStringList{QStringLiteral("route del default")}
        << QStringList{Lost.arg(u"a0")};
    QTest::newRow("switched off with its default route: one line for it")
        << routed << QStringList{QStringLiteral("link set a0 down")}
        << QStringList{Unplugged.arg(u"a0"), Unplugged.arg(u"b0")};
}

void TestNetworkLinkMonitor::changes()
{
    QFETCH(QStringList, setup);
    QFETCH(QStringList, actions);
    QFETCH(QStringList, expected);

    const QString setupError = RunIp(Pair(QStringLiteral("s0"), QStringLiteral("s1")) + setup);
    QVERIFY2(setupError.isEmpty(), qPrintable(setupError));
    NetworkLinkMonitor monitor;
    QVERIFY2(monitor.available(), qPrintable(monitor.unavailableReason()));
    QSignalSpy intrusions(&monitor, &NetworkLinkMonitor::intrusion);
    // Arm once the cables' carriers are on.
    QTRY_VERIFY_WITH_TIMEOUT(CarriersOn(), WaitMs);
    QVERIFY(monitor.start());
    QTRY_VERIFY_WITH_TIMEOUT(monitor.isWatching(), WaitMs);
    QCOMPARE(intrusions.size(), 0);

    const QString actionError = RunIp(actions + QStringList{QStringLiteral("link set s1 down")});
    QVERIFY2(actionError.isEmpty(), qPrintable(actionError));
    QStringList seen;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (; !intrusions.isEmpty(); intrusions.removeFirst())
                seen << intrusions.first().at(0).toString();
            return seen.contains(Unplugged.arg(u"s0")) && seen.contains(Unplugged.arg(u"s1"));
        }(),
        WaitMs);
    seen.removeAll(Unplugged.arg(u"s0"));
    seen.removeAll(Unplugged.arg(u"s1"));
    seen.sort();
    expected.sort();
    QCOMPARE(seen, expected);
}

int main(int argc, char **argv)
{
    // Before any thread starts: the namespace is the whole process's.
    if (::unshare(CLONE_NEWNET) != 0)
        g_namespaceRefusal = QString::fromLocal8Bit(strerror(errno));
    tarvo::test::prepareTestHome();
    QApplication app(argc, argv);
    TestNetworkLinkMonitor tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_networklinkmonitor.moc"
