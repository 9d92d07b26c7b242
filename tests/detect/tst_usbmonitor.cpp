// The USB monitor over the real libudev, in a umockdev testbed: devices
// plugged in and pulled out with their uevents, the baseline, name cleaning
// and a storm of devices.
//
// umockdev redirects /sys and libudev's monitor socket through its preload
// library, which must be loaded before the program starts: main() starts the
// test again with it in LD_PRELOAD (what umockdev-wrapper does), so the test
// runs the same from CTest and by hand.

#include <umockdev.h> // glib's headers before Qt's

#include "common/TestMain.h"
#include "detect/UsbMonitor.h"

#include <QSignalSpy>
#include <QTemporaryFile>
#include <unistd.h>

namespace {
constexpr int WaitMs = 20000;
const QString Preload = QStringLiteral("libumockdev-preload.so.0");
} // namespace

class TestUsbMonitor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void cleanNames_data();
    void cleanNames();
    void withoutUdevNotAvailable();
    void plugAndPull();
    void stormIsOneIntrusion();

private:
    QString AddDevice(const char *name, const char *vendor, const char *product,
                      const QByteArray &productName, bool announce);
    void Pull(const QString &path);

    UMockdevTestbed *m_testbed = nullptr;
    QTemporaryFile m_udevControl; // stands in for udevd's socket
};

void TestUsbMonitor::init()
{
    m_testbed = umockdev_testbed_new();
    QVERIFY2(umockdev_in_mock_environment(), "the test runs without umockdev's preload library");
    QVERIFY(m_udevControl.open());
}

void TestUsbMonitor::cleanup()
{
    g_clear_object(&m_testbed);
}

QString TestUsbMonitor::AddDevice(const char *name, const char *vendor, const char *product,
                                  const QByteArray &productName, bool announce)
{
    const QByteArray productProperty =
        QByteArray::number(QByteArray(vendor).toUInt(nullptr, 16), 16) + '/' +
        QByteArray::number(QByteArray(product).toUInt(nullptr, 16), 16) + "/100";
    gchar *path = umockdev_testbed_add_device(
        m_testbed, "usb", name, nullptr, "idVendor", vendor, "idProduct", product, "product",
        productName.constData(), nullptr, "DEVTYPE", "usb_device", "PRODUCT",
        productProperty.constData(), nullptr);
    const QString syspath = QString::fromUtf8(path);
    if (announce)
        umockdev_testbed_uevent(m_testbed, path, "add");
    g_free(path);
    return syspath;
}

// As the kernel does it: the device's sysfs is gone before the monitor
// reads its "remove".
void TestUsbMonitor::Pull(const QString &path)
{
    const QByteArray p = path.toUtf8();
    umockdev_testbed_uevent(m_testbed, p.constData(), "remove");
    umockdev_testbed_remove_device(m_testbed, p.constData());
}

void TestUsbMonitor::cleanNames_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("clean");
    QTest::newRow("plain") << QStringLiteral("USB Receiver") << QStringLiteral("USB Receiver");
    QTest::newRow("control characters and blanks")
        << QStringLiteral(" Evil\x1b[2J\r\nStick\x07 ") << QStringLiteral("Evil[2JStick");
    QTest::newRow("exactly 100") << QString(100, u'x') << QString(100, u'x');
    QTest::newRow("101 cut to 100") << QString(101, u'y') << QString(99, u'y') + QChar(0x2026);
    QTest::newRow("only control characters") << QStringLiteral("\x01\x02") << QString();
}

void TestUsbMonitor::cleanNames()
{
    QFETCH(QString, raw);
    QFETCH(QString, clean);
    QCOMPARE(UsbMonitor::CleanName(raw), clean);
}

void TestUsbMonitor::withoutUdevNotAvailable()
{
    UsbMonitor monitor(nullptr, m_udevControl.fileName() + QStringLiteral(".missing"));
    QVERIFY(!monitor.available());
    QCOMPARE(monitor.unavailableReason(), QStringLiteral("udev is not running"));
    QVERIFY(!monitor.start());
}

void TestUsbMonitor::plugAndPull()
{
    const QString present = AddDevice("1-1", "046d", "c52b", "Unifying Receiver", false);
    UsbMonitor monitor(nullptr, m_udevControl.fileName());
    QVERIFY2(monitor.available(), qPrintable(monitor.unavailableReason()));
    QSignalSpy intrusions(&monitor, &UsbMonitor::intrusion);
    QSignalSpy lines(&monitor, &UsbMonitor::reportLine);
    QVERIFY(monitor.start());

    // A late "add" of a device that was there at arming is no news.
    umockdev_testbed_uevent(m_testbed, present.toUtf8().constData(), "add");
    AddDevice("1-2", "0781", "5581", "Cruzer\x1b[31m Blade\n", true);
    QTRY_COMPARE_WITH_TIMEOUT(intrusions.size(), 1, WaitMs);
    QCOMPARE(intrusions.at(0).at(0).toString(),
             QStringLiteral("USB device connected: Cruzer[31m Blade (0781:5581)"));

    // After the burst: a pulled baseline device is named from the baseline,
    // one plugged in while armed from its own "add".
    QTRY_VERIFY_WITH_TIMEOUT(!monitor.inBurst(), WaitMs);
    Pull(present);
    QTRY_COMPARE_WITH_TIMEOUT(intrusions.size(), 2, WaitMs);
    QCOMPARE(intrusions.at(1).at(0).toString(),
             QStringLiteral("USB device removed: Unifying Receiver (046d:c52b)"));
    QTRY_VERIFY_WITH_TIMEOUT(!monitor.inBurst(), WaitMs);
    Pull(QStringLiteral("/sys/devices/1-2"));
    QTRY_COMPARE_WITH_TIMEOUT(intrusions.size(), 3, WaitMs);
    QCOMPARE(intrusions.at(2).at(0).toString(),
             QStringLiteral("USB device removed: Cruzer[31m Blade (0781:5581)"));
    QCOMPARE(lines.size(), 0);

    // Disarmed: nothing more.
    monitor.stop();
    AddDevice("1-3", "1234", "5678", "Late", true);
    QVERIFY(!QTest::qWaitFor([&] { return intrusions.size() > 3; }, 500));
}

void TestUsbMonitor::stormIsOneIntrusion()
{
    UsbMonitor monitor(nullptr, m_udevControl.fileName());
    QSignalSpy intrusions(&monitor, &UsbMonitor::intrusion);
    QSignalSpy lines(&monitor, &UsbMonitor::reportLine);
    QVERIFY(monitor.start());
    // A hub and its eleven devices, read as they come (the testbed's
    // socket holds only a few).
    for (int i = 0; i < 12; ++i) {
        AddDevice(QByteArray("2-1." + QByteArray::number(i)).constData(), "05e3",
                  QByteArray::number(0x610 + i, 16).rightJustified(4, '0').constData(),
                  "Hub port " + QByteArray::number(i), true);
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE_WITH_TIMEOUT(lines.size(), 1, WaitMs);
    QCOMPARE(lines.at(0).at(0).toString(), QStringLiteral("…and 11 more USB devices"));
    QCOMPARE(intrusions.size(), 1);
    QCOMPARE(intrusions.at(0).at(0).toString(),
             QStringLiteral("USB device connected: Hub port 0 (05e3:0610)"));
    QVERIFY(!monitor.inBurst());
}

int main(int argc, char **argv)
{
    // Started again with umockdev's preload library in front (AddressSanitizer
    // would insist on being first otherwise).
    const QByteArray preload = qgetenv("LD_PRELOAD");
    if (!preload.contains(Preload.toUtf8())) {
        qputenv("LD_PRELOAD", Preload.toUtf8() + (preload.isEmpty() ? "" : ":" + preload));
        const QByteArray asan = qgetenv("ASAN_OPTIONS");
        qputenv("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
        ::execv("/proc/self/exe", argv);
        qFatal("cannot start the test again with umockdev: %s", strerror(errno));
    }
    tarvo::test::prepareTestHome();
    QApplication app(argc, argv);
    TestUsbMonitor tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_usbmonitor.moc"
