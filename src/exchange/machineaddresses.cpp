#include "exchange/machineaddresses.h"

#include <QNetworkInterface>
#include <QSocketNotifier>

#if defined(Q_OS_LINUX)
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

MachineAddresses::MachineAddresses(QObject *parent) : MachineAddresses(&QNetworkInterface::allAddresses, parent)
{}

MachineAddresses::MachineAddresses(Reader reader, QObject *parent) : QObject(parent), m_reader(std::move(reader))
{
#if defined(Q_OS_LINUX)
    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (m_fd < 0)
        return;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &MachineAddresses::readReports);
#endif
}

MachineAddresses::~MachineAddresses()
{
#if defined(Q_OS_LINUX)
    if (m_fd >= 0) {
        delete m_notifier;
        ::close(m_fd);
    }
#endif
}

QList<QHostAddress> MachineAddresses::addresses()
{
    if (m_stale || !watching()) {
        m_addresses = m_reader();
        // Until the next report; a report that comes while the list is read makes it stale again.
        // Loopback is always there, so an empty list is a failed reading, tried again next time.
        m_stale = !watching() || m_addresses.isEmpty();
    }
    return m_addresses;
}

void MachineAddresses::readReports()
{
#if defined(Q_OS_LINUX)
    // What changed does not matter: the list is read again when next asked for. A report lost to a
    // full receive buffer (ENOBUFS) means the same.
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n > 0 || (n < 0 && (errno == EINTR || errno == ENOBUFS)))
            continue;
        break; // drained
    }
    m_stale = true;
    emit changed();
#endif
}
