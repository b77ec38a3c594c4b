// Linux: a netlink route socket that hears of every address added or removed.
#include "exchange/addresswatcher.h"

#include <QSocketNotifier>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

class NetlinkWatcher final : public AddressWatcher
{
public:
    NetlinkWatcher(int fd, Report report) : m_fd(fd), m_report(std::move(report)), m_notifier(fd, QSocketNotifier::Read)
    {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, [this] { readReports(); });
    }
    ~NetlinkWatcher() override
    {
        m_notifier.setEnabled(false);
        ::close(m_fd);
    }

private:
    void readReports()
    {
        // What changed does not matter: the list is read again when next asked for. A report lost
        // to a full receive buffer (ENOBUFS) means the same.
        char buffer[8192];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n > 0 || (n < 0 && (errno == EINTR || errno == ENOBUFS)))
                continue;
            break; // drained
        }
        m_report();
    }

    int m_fd;
    Report m_report;
    QSocketNotifier m_notifier;
};

} // namespace

std::unique_ptr<AddressWatcher> AddressWatcher::start(Report report)
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0)
        return nullptr;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<NetlinkWatcher>(fd, std::move(report));
}
