#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>

#include <functional>
#include <memory>

class AddressWatcher;

// The machine's addresses, kept up to date cheaply. Where the system reports changes of its
// addresses (AddressWatcher), the list is read again only after a report, and changed() is raised at
// each one, in the object's thread; elsewhere it is read afresh at every call.
class MachineAddresses : public QObject
{
    Q_OBJECT
public:
    // How the list is read; the system's interfaces by default.
    using Reader = std::function<QList<QHostAddress>()>;
    // How changes are watched, given what to call at each report; the system's watcher by default.
    using Watch = std::function<std::unique_ptr<AddressWatcher>(std::function<void()> report)>;

    explicit MachineAddresses(QObject *parent = nullptr);
    explicit MachineAddresses(Reader reader, QObject *parent = nullptr);
    MachineAddresses(Reader reader, const Watch &watch, QObject *parent = nullptr);
    ~MachineAddresses() override;

    // Empty where the list could not be read: such a reading is not kept, the next call reads again.
    QList<QHostAddress> addresses();
    // Whether changes are reported, so that the list is not read on every call.
    bool watching() const { return m_watcher != nullptr; }

signals:
    void changed();

private:
    void reported();

    Reader m_reader;
    bool m_stale = true;
    QList<QHostAddress> m_addresses;
    // Last, so that it goes first: no report arrives while the rest is being taken down.
    std::unique_ptr<AddressWatcher> m_watcher;
};
