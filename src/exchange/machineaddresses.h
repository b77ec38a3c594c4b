#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>

#include <functional>

class QSocketNotifier;

// The machine's addresses, kept up to date cheaply. Where the system reports changes of its
// addresses (Linux: a netlink route socket; Windows: NotifyUnicastIpAddressChange), the list is read
// again only after a report, and changed() is raised at each one, in the object's thread; elsewhere
// it is read afresh at every call.
class MachineAddresses : public QObject
{
    Q_OBJECT
public:
    // How the list is read; the system's interfaces by default.
    using Reader = std::function<QList<QHostAddress>()>;

    explicit MachineAddresses(QObject *parent = nullptr);
    explicit MachineAddresses(Reader reader, QObject *parent = nullptr);
    ~MachineAddresses() override;

    // Empty where the list could not be read: such a reading is not kept, the next call reads again.
    QList<QHostAddress> addresses();
    // Whether changes are reported, so that the list is not read on every call.
    bool watching() const { return m_watching; }

signals:
    void changed();

private:
    void readReports();
    // A report has come: from the Windows callback's thread, queued by name.
    Q_INVOKABLE void reported();

    Reader m_reader;
    bool m_watching = false;
    int m_fd = -1;
    // The registration of the Windows callback (a HANDLE).
    void *m_notification = nullptr;
    QSocketNotifier *m_notifier = nullptr;
    bool m_stale = true;
    QList<QHostAddress> m_addresses;
};
