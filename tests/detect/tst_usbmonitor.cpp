// The USB monitor over the real libudev in a umockdev testbed: the baseline,
// devices plugged in and pulled out, name cleaning, a storm. umockdev's
// preload library must be there before the program starts, so main() starts
// the test again with it (as umockdev-wrapper does), from CTest or by hand.

#include <umockdev.h> // glib's headers before Qt's

#include "common/TestMain.h"
#include "detect/UsbMonitor.h"

#include <QSignalSpy>
#include <QTemporaryFile>
#include <unistd.h>

class TestUsbMonitor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { g_clear_object(&m_testbed); }
    void cleanNames_data();
    void cleanNames();
    void withoutUdevNotAvailable();
    void plugAndPull();
    void stormIsOneIntrusion();

private:
    QByteArray Plug(const QByteArray &name, const QByteArray &product, const QByteArray &label,
                    bool announce = true)
    {
        gchar *path = umockdev_testbed_add_device(m_testbed, "usb", name.constData(), nullptr,
                                                  "idVendor", "0781", "idProduct",
                                                  product.constData(), "product", label.constData(),
                                                  nullptr, "DEVTYPE", "usb_device", nullptr);
        const QByteArray syspath(path);
        if (announce)
            umockdev_testbed_uevent(m_testbed, path, "add");
        g_free(path);
        return syspath;
    }
    // As the kernel does it: the sysfs is gone before the "remove" is read.
    void Pull(const QByteArray &path)
    {
        umockdev_testbed_uevent(m_testbed, path.constData(), "remove");
        umockdev_testbed_remove_device(m_testbed, path.constData());
    }

    static constexpr int WaitMs = 20000;
    UMockdevTestbed *m_testbed = nullptr;
    QTemporaryFile m_udevControl; // stands in for udevd's socket
};

void TestUsbMonitor::init()
{
    m_testbed = umockdev_testbed_new();
    QVERIFY2(umockdev_in_mock_environment(), "umockdev's preload library is not loaded");
    QVERIFY(m_udevControl.open());
}

void TestUsbMonitor::cleanNames_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("clean");
    QTest::newRow("control characters and blanks")
        << QStringLiteral(" Evil\x1b[2J\r\nStick\x07 ") << QStringLiteral("Evil[2JStick");
    QTest::newRow("exactly 100") << QString(100, u'x') << QString(100, u'x');
    QTest::newRow("101 cut to 100") << QString(101, u'y') << QString(99, u'y') + QChar(0x2026);
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
    QCOMPARE(monitor.unavailableReason(), QStringLiteral("udev is not running"));
    QVERIFY(!monitor.available() && !monitor.start());
}

void TestUsbMonitor::plugAndPull()
{
    const QByteArray present = Plug("1-1", "c52b", "Unifying Receiver", false);
    UsbMonitor monitor(nullptr, m_udevControl.fileName());
    QSignalSpy intrusions(&monitor, &UsbMonitor::intrusion);
    QSignalSpy lines(&monitor, &UsbMonitor::reportLine);
    QVERIFY2(monitor.start(), qPrintable(monitor.unavailableReason()));

    umockdev_testbed_uevent(m_testbed, present.constData(), "add"); // late news of the baseline
    const QByteArray stick = Plug("1-2", "5581", "Cruzer\x1b[31m Blade\n");
    const QStringList expected{QStringLiteral("USB device connected: Cruzer[31m Blade (0781:5581)"),
                               QStringLiteral("USB device removed: Unifying Receiver (0781:c52b)"),
                               QStringLiteral("USB device removed: Cruzer[31m Blade (0781:5581)")};
    for (int i = 0; i < expected.size(); ++i) {
        if (i > 0) {
            QTRY_VERIFY_WITH_TIMEOUT(!monitor.inBurst(), WaitMs); // one burst each
            Pull(i == 1 ? present : stick);
        }
        QTRY_COMPARE_WITH_TIMEOUT(intrusions.size(), i + 1, WaitMs);
        QCOMPARE(intrusions.at(i).at(0).toString(), expected.at(i));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!monitor.inBurst(), WaitMs);
    QCOMPARE(lines.size(), 0);
}

void TestUsbMonitor::stormIsOneIntrusion()
{
    UsbMonitor monitor(nullptr, m_udevControl.fileName());
    QSignalSpy intrusions(&monitor, &UsbMonitor::intrusion);
    QSignalSpy lines(&monitor, &UsbMonitor::reportLine);
    QVERIFY(monitor.start());
    for (int i = 0; i < 12; ++i) { // a hub and its devices, read as they come
        Plug("2-1." + QByteArray::number(i), QByteArray::number(1000 + i),
             "Port " + QByteArray::number(i));
        QCoreApplication::processEvents(); // the testbed's socket holds only a few
    }
    QTRY_COMPARE_WITH_TIMEOUT(lines.size(), 1, WaitMs);
    QCOMPARE(lines.at(0).at(0).toString(), QStringLiteral("…and 11 more USB devices"));
    QCOMPARE(intrusions.size(), 1);
    QCOMPARE(intrusions.at(0).at(0).toString(),
             QStringLiteral("USB device connected: Port 0 (0781:1000)"));
}

int main(int argc, char **argv)
{
    const QByteArray preload = qgetenv("LD_PRELOAD");
    if (!preload.contains("libumockdev-preload")) {
        qputenv("LD_PRELOAD",
                "libumockdev-preload.so.0" + (preload.isEmpty() ? "" : ":" + preload));
        // AddressSanitizer would insist on coming first.
        const QByteArray asan = qgetenv("ASAN_OPTIONS");
        qputenv("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
        ::execv("/proc/self/exe", argv);
        qFatal("cannot start again with umockdev's preload library: %s", strerror(errno));
    }
    tarvo::test::prepareTestHome();
    QApplication app(argc, argv);
    TestUsbMonitor tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_usbmonitor.moc"
