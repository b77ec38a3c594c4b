#include "exchange/machineaddresses.h"

#include <QNetworkInterface>
#include <QSocketNotifier>

#if defined(Q_OS_LINUX)
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#elif defined(Q_OS_WIN)
#include "core/logging.h"

#include <winsock2.h>

#include <ws2ipdef.h>

#include <iphlpapi.h>

#include <netioapi.h>
#endif

#if defined(Q_OS_WIN)
namespace {

// Called on a thread of the system's: the report is handed to the object's thread. The destructor
// cancels the registration first, which waits for a call in progress, so the object is alive here.
void WINAPI addressChanged(PVOID context, PMIB_UNICASTIPADDRESS_ROW /*row*/, MIB_NOTIFICATION_TYPE type)
{
    if (type == MibInitialNotification)
        return;
    auto *machine = static_cast<MachineAddresses *>(context);
    QMetaObject::invokeMethod(machine, "reported", Qt::QueuedConnection);
}

} // namespace
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
    m_watching = true;
#elif defined(Q_OS_WIN)
    HANDLE handle = nullptr;
    const NETIO_STATUS status = ::NotifyUnicastIpAddressChange(AF_UNSPEC, &addressChanged, this, FALSE, &handle);
    // A registration without a handle cannot be a real one: nothing would ever report.
    m_watching = status == NO_ERROR && handle != nullptr;
    if (m_watching)
        m_notification = handle;
    else if (status == NO_ERROR)
        qCInfo(lcExchange, "the system does not report changes of the machine's addresses (registered without a "
                           "handle); the list is read afresh at every tick");
    else
        qCInfo(lcExchange,
               "the system does not report changes of the machine's addresses (error %lu); the list is "
               "read afresh at every tick",
               static_cast<unsigned long>(status));
#endif
}

MachineAddresses::~MachineAddresses()
{
#if defined(Q_OS_LINUX)
    if (m_fd >= 0) {
        delete m_notifier;
        ::close(m_fd);
    }
#elif defined(Q_OS_WIN)
    if (m_notification)
        ::CancelMibChangeNotify2(static_cast<HANDLE>(m_notification));
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
    reported();
#endif
}

void MachineAddresses::reported()
{
    m_stale = true;
    emit changed();
}
