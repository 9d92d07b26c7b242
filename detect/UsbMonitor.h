#pragma once
// Watches the USB ports while armed: a USB device (udev devtype usb_device)
// plugged in or pulled out is an intrusion. The devices present when arming
// completed are the baseline and never count; their names are kept, because
// a pulled device's attributes are gone by the time its event arrives.
//
// A hub with many devices is one burst: its first device is the intrusion,
// the others are counted and told in one line, "…and N more USB devices",
// once the ports stay quiet for BurstQuietMs (and every BurstMaxMs while the
// burst goes on). So a storm gives one intrusion and a few lines.
//
// Everything runs on the owner's thread: libudev's monitor socket is read
// without blocking from a QSocketNotifier, and the baseline only reads sysfs.

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class QSocketNotifier;
struct udev;
struct udev_device;
struct udev_monitor;

class UsbMonitor : public QObject
{
    Q_OBJECT

public:
    static constexpr int BurstQuietMs = 2000;
    static constexpr int BurstMaxMs = 10000;
    static constexpr int MaxNameLength = 100;

    // udevControl: the socket udevd listens on; without it udevd does not
    // run and libudev's monitor would never hear anything. Tests running
    // under a udev testbed point it at a file of their own.
    explicit UsbMonitor(QObject *parent = nullptr,
                        const QString &udevControl = QStringLiteral("/run/udev/control"));
    ~UsbMonitor() override;

    bool available() const { return m_reason.isEmpty(); }
    QString unavailableReason() const { return m_reason; }

    // Takes the baseline (the USB devices present now) and starts watching;
    // false when not available or the monitor could not be opened (the
    // reason then says why; it is looked for again at every start).
    bool start();
    void stop();
    bool isRunning() const { return m_monitor != nullptr; }
    // True from a burst's intrusion until its last line is out.
    bool inBurst() const { return m_burstQuiet.isActive(); }

    // Control characters removed, surrounding blanks trimmed, at most
    // MaxNameLength characters (a cut name ends in "…").
    static QString CleanName(const QString &name);

Q_SIGNALS:
    // A device came or went while armed: "USB device connected: <product>
    // (<vendor id>:<product id>)" or "USB device removed: …". One per burst.
    void intrusion(const QString &eventText);
    // A further line about a burst already told by intrusion() (not a new
    // trigger): "…and N more USB devices".
    void reportLine(const QString &line);

private:
    struct Device
    {
        QString name;
        QString vendorId;
        QString productId;
    };

    void CheckAvailable();
    void ReadEvents();
    void HandleEvent(udev_device *device);
    void Report(const QString &text);
    void EndBurst();
    static Device Describe(udev_device *device);
    static QString EventText(bool connected, const Device &device);

    QString m_udevControl;
    QString m_reason;
    udev *m_udev = nullptr;
    udev_monitor *m_monitor = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QHash<QString, Device> m_known; // by syspath: the baseline and what came since
    QTimer m_burstQuiet;
    QTimer m_burstMax;
    int m_burstMore = 0;
};
