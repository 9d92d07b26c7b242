// The guard's sensors beyond the input, each with its real part: a USB stick
// in a udev testbed read through libudev, a network cable (a veth pair in a
// network namespace of the test's own) and a camera on a private PipeWire.
// What each sees while armed is an alarm with its line in the report.
// umockdev's preload library must be there before the program starts, so
// main() starts the test again with it; then, as root, it takes network and
// mount namespaces of its own, with a /run where udev seems to run.

#include <umockdev.h> // glib's headers before Qt's

#include "common/GuardFixture.h"
#include "common/TestMain.h"
#include "evidence/PrivateCamera.h"

#include "alarm/Autostart.h"
#include "alerts/ArmedMarker.h"
#include "guard/GuardCommands.h"

#include <QProcess>
#include <QSignalSpy>
#include <optional>
#include <sched.h>
#include <sys/mount.h>

using S = AlarmControl::Switch;

namespace {
constexpr int WaitMs = 30000;
QString g_namespaceRefusal;

bool RunIp(const QString &lines)
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), {QStringLiteral("-batch"), QStringLiteral("-")});
    ip.write(lines.toUtf8());
    ip.closeWriteChannel();
    return ip.waitForFinished(WaitMs) && ip.exitStatus() == QProcess::NormalExit &&
           ip.exitCode() == 0;
}

// The namespaces, before any thread starts: links nobody else sees, and a
// /run of its own with udev's socket file, the rest of /run bound in again.
QString TakeNamespaces()
{
    const auto failed = [] { return QString::fromLocal8Bit(strerror(errno)); };
    if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return failed();
    const QString old = QStringLiteral("/tmp/tarvo2-test-run-%1").arg(::getpid());
    if (!QDir().mkpath(old) || ::mount("/run", QFile::encodeName(old), nullptr, MS_BIND | MS_REC,
                                       nullptr) != 0 ||
        ::mount("tarvo2-test-run", "/run", "tmpfs", 0, "mode=0755") != 0)
        return failed();
    const auto entries = QDir(old).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QFileInfo &entry : entries) {
        const QString inside = QStringLiteral("/run/") + entry.fileName();
        if (entry.fileName() != QLatin1String("udev") && QDir().mkpath(inside))
            ::mount(QFile::encodeName(entry.filePath()), QFile::encodeName(inside), nullptr,
                    MS_BIND | MS_REC, nullptr);
    }
    ::umount2(QFile::encodeName(old), MNT_DETACH);
    QDir().rmdir(old);
    QDir().mkpath(QStringLiteral("/run/udev"));
    QFile control(QStringLiteral("/run/udev/control"));
    return control.open(QIODevice::WriteOnly) ? QString() : control.errorString();
}

// A line of the report that begins with text.
bool Reported(Guard &guard, const QString &text)
{
    const QStringList lines = guard.report().lines();
    return std::any_of(lines.cbegin(), lines.cend(),
                       [&text](const QString &line) { return line.contains(QStringLiteral("] ") + text); });
}
} // namespace

class TestGuardSensors : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QFile::remove(RegistryFilePath());
        QFile::remove(ArmedMarker::DefaultPath(RegistryFilePath()));
        RemoveAutostartEntry();
    }

    void intrusionIsAnAlarm_data()
    {
        QTest::addColumn<S>("sensor");
        QTest::addColumn<Guard::Led>("led");
        QTest::addColumn<QString>("line"); // or its beginning
        QTest::newRow("USB stick plugged in")
            << S::Usb << Guard::Led::Usb << "USB device connected: Cruzer Blade (0781:5581)";
        QTest::newRow("network cable pulled")
            << S::Network << Guard::Led::Network
            << "Network cable unplugged: "; // either end
        QTest::newRow("camera taken away") << S::Camera << Guard::Led::Camera << "Camera lost";
    }
    void intrusionIsAnAlarm()
    {
        QFETCH(S, sensor);
        QFETCH(Guard::Led, led);
        QFETCH(QString, line);
        if (sensor != S::Camera && !g_namespaceRefusal.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no namespaces of its own here (%1); it needs root")
                                 .arg(g_namespaceRefusal)));
        UMockdevTestbed *testbed = umockdev_testbed_new();
        const auto removeTestbed = qScopeGuard([testbed] { g_object_unref(testbed); });
        QVERIFY(umockdev_in_mock_environment());
        std::optional<tarvo::test::PrivateCamera> camera;
        if (sensor == S::Camera) {
            camera.emplace();
            QVERIFY(camera->ready());
        }
        const auto removeCable = qScopeGuard([] { RunIp(QStringLiteral("link del a0\n")); });
        if (sensor == S::Network)
            QVERIFY(RunIp(QStringLiteral("link add a0 type veth peer name b0\nlink set a0 up\n"
                                         "link set b0 up\n")));

        auto guard = tarvo::test::StartedGuard(m_dir->path());
        QVERIFY(guard);
        guard->flipSwitch(sensor);
        QCOMPARE(guard->detectorUnavailable(sensor), QString());
        QSignalSpy leds(guard.get(), &Guard::ledChanged);
        QCOMPARE(GuardCommands::Arm(*guard, Guard::Origin::CommandLine), QString());
        QVERIFY(guard->alarm().isArmed());

        if (sensor == S::Usb) {
            gchar *path = umockdev_testbed_add_device(
                testbed, "usb", "1-2", nullptr, "idVendor", "0781", "idProduct", "5581", "product",
                "Cruzer Blade", nullptr, "DEVTYPE", "usb_device", nullptr);
            umockdev_testbed_uevent(testbed, path, "add");
            g_free(path);
        } else if (sensor == S::Network) {
            // The watch may still be taking its baseline: the cable is
            // pulled again (a bounce counts) until the guard has seen it.
            QDeadlineTimer deadline(WaitMs);
            while (!Reported(*guard, line) && !deadline.hasExpired()) {
                QVERIFY(RunIp(QStringLiteral("link set b0 down\n")));
                if (QTest::qWaitFor([&] { return Reported(*guard, line); }, 2000))
                    break;
                QVERIFY(RunIp(QStringLiteral("link set b0 up\n")));
            }
        } else {
            QVERIFY(camera->waitConsumed());
            camera->stopSource();
        }
        QTRY_VERIFY_WITH_TIMEOUT(Reported(*guard, line), WaitMs);
        QCOMPARE(guard->state(), Guard::State::Alarm);
        QVERIFY(guard->lastAlarmLine().startsWith(line));
        QVERIFY(std::any_of(leds.cbegin(), leds.cend(), [led](const QList<QVariant> &signal) {
            return signal.at(0).value<Guard::Led>() == led && signal.at(1).toBool();
        }));
        QCOMPARE(GuardCommands::Disarm(*guard, QString(), false, Guard::Origin::Desktop),
                 QString::fromLatin1(GuardCommands::Disarmed));
    }
};

int main(int argc, char **argv)
{
    const QByteArray preload = qgetenv("LD_PRELOAD");
    if (!preload.contains("libumockdev-preload")) {
        qputenv("LD_PRELOAD", "libumockdev-preload.so.0" + (preload.isEmpty() ? "" : ":" + preload));
        // AddressSanitizer would insist on coming first.
        const QByteArray asan = qgetenv("ASAN_OPTIONS");
        qputenv("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
        ::execv("/proc/self/exe", argv);
        qFatal("cannot start again with umockdev's preload library: %s", strerror(errno));
    }
    g_namespaceRefusal = TakeNamespaces();
    tarvo::test::prepareTestHome();
    QApplication app(argc, argv);
    TestGuardSensors tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_guardsensors.moc"
