#include "detect/NetworkLinkMonitor.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <linux/if.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

int OpenRouteSocket(int flags)
{
    return ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | flags, NETLINK_ROUTE);
}

quint32 U32(const rtattr *attribute)
{
    quint32 value = 0;
    if (RTA_PAYLOAD(attribute) >= sizeof(value))
        std::memcpy(&value, RTA_DATA(attribute), sizeof(value));
    return value;
}

QString Text(const rtattr *attribute)
{
    const char *data = static_cast<const char *>(RTA_DATA(attribute));
    return QString::fromUtf8(data, qstrnlen(data, RTA_PAYLOAD(attribute)));
}

bool IsWireless(const QString &name)
{
    const QString dir = QStringLiteral("/sys/class/net/") + name;
    return QFileInfo::exists(dir + QStringLiteral("/wireless")) ||
           QFileInfo::exists(dir + QStringLiteral("/phy80211"));
}

} // namespace

NetworkLinkMonitor::NetworkLinkMonitor(QObject *parent) : QObject(parent)
{
    const int probe = OpenRouteSocket(0);
    if (probe < 0)
        m_reason = tr("netlink cannot be opened: %1").arg(QString::fromLocal8Bit(strerror(errno)));
    else
        ::close(probe);
}

NetworkLinkMonitor::~NetworkLinkMonitor()
{
    stop();
}

bool NetworkLinkMonitor::start()
{
    stop();
    m_fd = OpenRouteSocket(SOCK_NONBLOCK);
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    // Room for a burst of changes; a lost message is caught by a new dump.
    const int buffer = 1 << 20;
    if (m_fd >= 0)
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) < 0) {
        m_reason = tr("netlink cannot be opened: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        stop();
        return false;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &NetworkLinkMonitor::ReadMessages);
    // Subscribed first, then dumped: a change during the dump is seen twice
    // at worst, never missed.
    m_phase = Phase::DumpingLinks;
    if (!RequestDump(RTM_GETLINK)) {
        m_reason = tr("the kernel's links cannot be listed: %1")
                       .arg(QString::fromLocal8Bit(strerror(errno)));
        stop();
        return false;
    }
    m_reason.clear();
    ReadMessages();
    return true;
}

void NetworkLinkMonitor::stop()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_phase = Phase::Stopped;
    m_links.clear();
    m_defaultRoutes.clear();
    m_watchedRoutes.clear();
    m_lastReport.clear();
    m_pendingRouteLosses.clear();
    m_dumpSequence = 0;
}

bool NetworkLinkMonitor::RequestDump(int type)
{
    struct
    {
        nlmsghdr header;
        union {
            ifinfomsg link;
            rtmsg route;
        } body;
    } request{};
    request.header.nlmsg_len =
        NLMSG_LENGTH(type == RTM_GETLINK ? sizeof(ifinfomsg) : sizeof(rtmsg));
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = m_dumpSequence = ++m_sequence;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    return ::sendto(m_fd, &request, request.header.nlmsg_len, 0,
                    reinterpret_cast<sockaddr *>(&kernel), sizeof(kernel)) >= 0;
}

void NetworkLinkMonitor::ReadMessages()
{
    alignas(nlmsghdr) char buffer[32768];
    for (int i = 0; m_fd >= 0 && i < 64; ++i) {
        const ssize_t got = ::recv(m_fd, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            // Messages were dropped: the counters of a fresh dump of the
            // links still tell a carrier lost meanwhile.
            if (errno == ENOBUFS && m_phase == Phase::Watching && m_dumpSequence == 0)
                RequestDump(RTM_GETLINK);
            break;
        }
        int left = int(got);
        for (auto *message = reinterpret_cast<const nlmsghdr *>(buffer); NLMSG_OK(message, left);
             message = NLMSG_NEXT(message, left))
            HandleMessage(message);
    }
    // A default route that went with its link is told as the link's loss.
    const QSet<int> routeLosses = std::exchange(m_pendingRouteLosses, {});
    for (const int index : routeLosses)
        Lost(index, false);
}

void NetworkLinkMonitor::HandleMessage(const nlmsghdr *message)
{
    const bool ourDump = m_dumpSequence != 0 && message->nlmsg_seq == m_dumpSequence;
    switch (message->nlmsg_type) {
    case NLMSG_DONE:
    case NLMSG_ERROR: // a refused dump leaves what is known so far
        if (!ourDump)
            return;
        m_dumpSequence = 0;
        if (m_phase == Phase::DumpingLinks) {
            m_phase = Phase::DumpingRoutes;
            if (!RequestDump(RTM_GETROUTE)) { // the links alone, then
                m_dumpSequence = 0;
                TakeBaseline();
                m_phase = Phase::Watching;
            }
        } else if (m_phase == Phase::DumpingRoutes) {
            TakeBaseline();
            m_phase = Phase::Watching;
        }
        return;
    case RTM_NEWLINK:
    case RTM_DELLINK:
        HandleLink(message, message->nlmsg_type == RTM_DELLINK);
        return;
    case RTM_NEWROUTE:
    case RTM_DELROUTE:
        HandleRoute(message, message->nlmsg_type == RTM_DELROUTE);
        return;
    default:
        return;
    }
}

void NetworkLinkMonitor::HandleLink(const nlmsghdr *message, bool removed)
{
    if (message->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg)))
        return;
    const auto *info = static_cast<const ifinfomsg *>(NLMSG_DATA(message));
    // Bridge port messages (AF_BRIDGE) are not about the link itself.
    if (info->ifi_family != AF_UNSPEC || (info->ifi_flags & IFF_LOOPBACK))
        return;
    const int index = info->ifi_index;
    if (removed) {
        const Link link = m_links.value(index);
        if (m_phase == Phase::Watching && link.watched)
            Lost(index, !link.wireless);
        m_links.remove(index);
        return;
    }
    Link &link = m_links[index];
    qint64 carrierDowns = -1;
    int left = int(IFLA_PAYLOAD(message));
    for (const rtattr *a = IFLA_RTA(info); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
        if (a->rta_type == IFLA_IFNAME)
            link.name = Text(a);
        else if (a->rta_type == IFLA_CARRIER_DOWN_COUNT)
            carrierDowns = U32(a);
    }
    const bool carrier = info->ifi_flags & IFF_LOWER_UP;
    const bool lost = (link.carrier && !carrier) || (carrierDowns >= 0 && link.carrierDowns >= 0 &&
                                                     carrierDowns > link.carrierDowns);
    link.carrier = carrier;
    if (carrierDowns >= 0)
        link.carrierDowns = carrierDowns;
    if (m_phase == Phase::Watching && link.watched && lost)
        Lost(index, !link.wireless);
}

void NetworkLinkMonitor::HandleRoute(const nlmsghdr *message, bool removed)
{
    if (message->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg)))
        return;
    const auto *route = static_cast<const rtmsg *>(NLMSG_DATA(message));
    if (route->rtm_dst_len != 0 || route->rtm_type != RTN_UNICAST ||
        (route->rtm_family != AF_INET && route->rtm_family != AF_INET6))
        return;
    quint32 table = route->rtm_table, index = 0, metric = 0;
    QByteArray gateway;
    int left = int(RTM_PAYLOAD(message));
    for (const rtattr *a = RTM_RTA(route); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
        if (a->rta_type == RTA_TABLE)
            table = U32(a);
        else if (a->rta_type == RTA_OIF)
            index = U32(a);
        else if (a->rta_type == RTA_PRIORITY)
            metric = U32(a);
        else if (a->rta_type == RTA_GATEWAY)
            gateway = QByteArray(static_cast<const char *>(RTA_DATA(a)), int(RTA_PAYLOAD(a)));
    }
    if (table != RT_TABLE_MAIN || index == 0)
        return;
    const DefaultRoute key{int(index), route->rtm_family, metric, gateway};
    if (!removed) {
        m_defaultRoutes.insert(key);
        return;
    }
    m_defaultRoutes.remove(key);
    if (m_phase != Phase::Watching || !m_watchedRoutes.contains(int(index)))
        return;
    for (const DefaultRoute &other : std::as_const(m_defaultRoutes))
        if (other.index == int(index))
            return; // still reachable the other way (IPv4 or IPv6, another router)
    m_pendingRouteLosses.insert(int(index));
}

void NetworkLinkMonitor::TakeBaseline()
{
    for (Link &link : m_links) {
        link.watched = link.carrier;
        link.wireless = link.watched && IsWireless(link.name);
    }
    m_watchedRoutes.clear();
    for (const DefaultRoute &route : std::as_const(m_defaultRoutes))
        if (m_links.contains(route.index))
            m_watchedRoutes.insert(route.index);
}

void NetworkLinkMonitor::Lost(int index, bool cable)
{
    QElapsedTimer &last = m_lastReport[index];
    if (last.isValid() && last.elapsed() < ReportQuietMs)
        return;
    last.start();
    m_pendingRouteLosses.remove(index);
    QString name = m_links.value(index).name;
    if (name.isEmpty())
        name = tr("interface %1").arg(index);
    Q_EMIT intrusion(cable ? QStringLiteral("Network cable unplugged: %1").arg(name)
                           : QStringLiteral("Network connection lost: %1").arg(name));
}
