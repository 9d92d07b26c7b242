#pragma once
// Watches the network links while armed, over rtnetlink (a NETLINK_ROUTE
// socket subscribed to link and route changes, read from a QSocketNotifier).
//
// The baseline, taken by start() from the kernel's dump of links and routes:
// the interfaces that have carrier (IFF_LOWER_UP), loopback aside, and the
// interfaces that carry a default route. Only those are watched:
// - a wired one losing its carrier or vanishing → "Network cable unplugged:
//   <interface>";
// - a Wi-Fi one (sysfs wireless or phy80211) losing its carrier (its
//   association) or vanishing → "Network connection lost: <interface>";
// - its default route disappearing → "Network connection lost: <interface>".
// The kernel's carrier-down counter tells a loss that the link watcher folded
// into one message with the link up again: a cable touched and plugged back
// within a second still counts. One report per interface per ReportQuietMs,
// so an unplug that also takes the routes away is one intrusion.

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <memory>

class QSocketNotifier;
struct nlmsghdr;

class NetworkLinkMonitor : public QObject
{
    Q_OBJECT

public:
    static constexpr int ReportQuietMs = 5000;

    explicit NetworkLinkMonitor(QObject *parent = nullptr);
    ~NetworkLinkMonitor() override;

    bool available() const { return m_reason.isEmpty(); }
    QString unavailableReason() const { return m_reason; }

    // Opens the socket and asks the kernel for its links and routes; the
    // baseline is in place once isWatching() (normally before start()
    // returns: the kernel answers a dump within the calls that read it).
    // False with the reason when netlink cannot be opened; tried afresh at
    // every start.
    bool start();
    void stop();
    bool isRunning() const { return m_fd >= 0; }
    bool isWatching() const { return m_phase == Phase::Watching; }

Q_SIGNALS:
    void intrusion(const QString &eventText);

private:
    enum class Phase
    {
        Stopped,
        DumpingLinks,
        DumpingRoutes,
        Watching
    };
    struct Link
    {
        QString name;
        bool carrier = false;
        bool wireless = false;
        bool watched = false;
        qint64 carrierDowns = -1; // the kernel's count; -1 where it has none
    };
    struct DefaultRoute
    {
        int index = 0; // the interface
        int family = 0;
        quint32 metric = 0;
        QByteArray gateway;
        bool operator==(const DefaultRoute &) const = default;
        friend size_t qHash(const DefaultRoute &r, size_t seed = 0)
        {
            return qHashMulti(seed, r.index, r.family, r.metric, r.gateway);
        }
    };

    bool RequestDump(int type);
    void ReadMessages();
    void HandleMessage(const nlmsghdr *message);
    void HandleLink(const nlmsghdr *message, bool removed);
    void HandleRoute(const nlmsghdr *message, bool removed);
    void TakeBaseline();
    void Lost(int index, bool cable);

    QString m_reason;
    int m_fd = -1;
    quint32 m_sequence = 0;
    quint32 m_dumpSequence = 0; // of the dump under way, 0 when none
    Phase m_phase = Phase::Stopped;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QHash<int, Link> m_links; // by interface index
    QSet<DefaultRoute> m_defaultRoutes;
    QSet<int> m_watchedRoutes;      // interfaces with a default route at the baseline
    QSet<int> m_pendingRouteLosses; // told after the batch that brought them
    QHash<int, QElapsedTimer> m_lastReport;
};
