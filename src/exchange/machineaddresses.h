#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>

class QSocketNotifier;

// The machine's addresses, kept up to date cheaply. Where the system reports changes of its
// addresses (Linux: a netlink route socket), the list is read again only after a report, and
// changed() is raised at each one; elsewhere it is read afresh at every call.
class MachineAddresses : public QObject
{
    Q_OBJECT
public:
    explicit MachineAddresses(QObject *parent = nullptr);
    ~MachineAddresses() override;

    QList<QHostAddress> addresses();
    // Whether changes are reported, so that the list is not read on every call.
    bool watching() const { return m_fd >= 0; }

signals:
    void changed();

private:
    void readReports();

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    bool m_stale = true;
    QList<QHostAddress> m_addresses;
};
