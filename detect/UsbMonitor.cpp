#include "detect/UsbMonitor.h"

#include <QFile>
#include <QSocketNotifier>
#include <libudev.h>
#include <utility>

namespace {

QString Attribute(udev_device *device, const char *name)
{
    return QString::fromUtf8(udev_device_get_sysattr_value(device, name));
}

QString Property(udev_device *device, const char *name)
{
    return QString::fromUtf8(udev_device_get_property_value(device, name));
}

// The kernel's PRODUCT property ("46d/c52b/1201") still names the device
// when its sysfs attributes are gone.
void IdsFromProductProperty(udev_device *device, QString &vendor, QString &product)
{
    const QStringList parts = Property(device, "PRODUCT").split(u'/');
    if (parts.size() < 2)
        return;
    bool okVendor = false, okProduct = false;
    const uint v = parts[0].toUInt(&okVendor, 16), p = parts[1].toUInt(&okProduct, 16);
    if (vendor.isEmpty() && okVendor)
        vendor = QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0'));
    if (product.isEmpty() && okProduct)
        product = QStringLiteral("%1").arg(p, 4, 16, QLatin1Char('0'));
}

} // namespace

UsbMonitor::UsbMonitor(QObject *parent, const QString &udevControl)
    : QObject(parent), m_udevControl(udevControl)
{
    m_udev = udev_new();
    CheckAvailable();
    m_burstQuiet.setSingleShot(true);
    m_burstQuiet.setInterval(BurstQuietMs);
    connect(&m_burstQuiet, &QTimer::timeout, this, &UsbMonitor::EndBurst);
    m_burstMax.setInterval(BurstMaxMs);
    connect(&m_burstMax, &QTimer::timeout, this, [this] {
        // A burst that goes on: its count so far on the record, no new trigger.
        const bool goesOn = m_burstQuiet.isActive();
        EndBurst();
        if (goesOn) {
            m_burstQuiet.start();
            m_burstMax.start();
        }
    });
}

UsbMonitor::~UsbMonitor()
{
    stop();
    if (m_udev)
        udev_unref(m_udev);
}

void UsbMonitor::CheckAvailable()
{
    if (!m_udev)
        m_reason = tr("udev cannot be reached");
    else if (!QFile::exists(m_udevControl))
        m_reason = tr("udev is not running");
    else
        m_reason.clear();
}

bool UsbMonitor::start()
{
    CheckAvailable(); // udevd may have started or stopped since
    if (!available())
        return false;
    stop();
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (!m_monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "usb", "usb_device") < 0 ||
        udev_monitor_enable_receiving(m_monitor) < 0) {
        m_reason = tr("the udev monitor cannot be opened");
        stop();
        return false;
    }
    // The monitor listens before the devices are listed, so nothing plugged
    // in meanwhile is missed; an "add" of a listed device is no news.
    udev_enumerate *list = udev_enumerate_new(m_udev);
    if (list) {
        udev_enumerate_add_match_subsystem(list, "usb");
        udev_enumerate_add_match_property(list, "DEVTYPE", "usb_device");
        udev_enumerate_scan_devices(list);
        udev_list_entry *entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list))
        {
            if (udev_device *device =
                    udev_device_new_from_syspath(m_udev, udev_list_entry_get_name(entry))) {
                m_known.insert(QString::fromUtf8(udev_device_get_syspath(device)),
                               Describe(device));
                udev_device_unref(device);
            }
        }
        udev_enumerate_unref(list);
    }
    m_notifier =
        std::make_unique<QSocketNotifier>(udev_monitor_get_fd(m_monitor), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &UsbMonitor::ReadEvents);
    return true;
}

void UsbMonitor::stop()
{
    m_notifier.reset();
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    m_monitor = nullptr;
    m_known.clear();
    m_burstQuiet.stop();
    m_burstMax.stop();
    m_burstMore = 0;
}

QString UsbMonitor::CleanName(const QString &name)
{
    QString clean;
    clean.reserve(name.size());
    for (const QChar c : name)
        if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format)
            clean.append(c);
    clean = clean.trimmed();
    if (clean.size() > MaxNameLength)
        clean = clean.left(MaxNameLength - 1).trimmed() + QChar(0x2026);
    return clean;
}

UsbMonitor::Device UsbMonitor::Describe(udev_device *device)
{
    Device d;
    d.name = CleanName(Attribute(device, "product"));
    if (d.name.isEmpty())
        d.name = CleanName(Property(device, "ID_MODEL_FROM_DATABASE"));
    if (d.name.isEmpty())
        d.name = tr("unnamed device");
    d.vendorId = CleanName(Attribute(device, "idVendor")).left(4);
    d.productId = CleanName(Attribute(device, "idProduct")).left(4);
    IdsFromProductProperty(device, d.vendorId, d.productId);
    if (d.vendorId.isEmpty())
        d.vendorId = QStringLiteral("????");
    if (d.productId.isEmpty())
        d.productId = QStringLiteral("????");
    return d;
}

QString UsbMonitor::EventText(bool connected, const Device &device)
{
    return (connected ? QStringLiteral("USB device connected: %1 (%2:%3)")
                      : QStringLiteral("USB device removed: %1 (%2:%3)"))
        .arg(device.name, device.vendorId, device.productId);
}

void UsbMonitor::ReadEvents()
{
    // The socket does not block: read what is there, at most a bounded
    // batch per wake-up so that a storm cannot starve the event loop.
    for (int i = 0; m_monitor && i < 256; ++i) {
        udev_device *device = udev_monitor_receive_device(m_monitor);
        if (!device)
            return;
        HandleEvent(device);
        udev_device_unref(device);
    }
}

void UsbMonitor::HandleEvent(udev_device *device)
{
    const QByteArray action = udev_device_get_action(device);
    const QString path = QString::fromUtf8(udev_device_get_syspath(device));
    if (action == "add") {
        if (m_known.contains(path))
            return;
        const Device described = Describe(device);
        m_known.insert(path, described);
        Report(EventText(true, described));
    } else if (action == "remove") {
        // Only what was here: a device pulled before the baseline was taken
        // sends its late "remove" to no one.
        const auto known = m_known.constFind(path);
        if (known == m_known.cend())
            return;
        const Device described = *known;
        m_known.erase(known);
        Report(EventText(false, described));
    }
}

void UsbMonitor::Report(const QString &text)
{
    if (m_burstQuiet.isActive()) {
        ++m_burstMore;
        m_burstQuiet.start();
        return;
    }
    m_burstQuiet.start();
    m_burstMax.start();
    Q_EMIT intrusion(text);
}

void UsbMonitor::EndBurst()
{
    m_burstQuiet.stop();
    m_burstMax.stop();
    const int more = std::exchange(m_burstMore, 0);
    if (more > 0)
        Q_EMIT reportLine(more == 1 ? QStringLiteral("…and 1 more USB device")
                                    : QStringLiteral("…and %1 more USB devices").arg(more));
}
