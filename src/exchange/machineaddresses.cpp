#include "exchange/machineaddresses.h"

#include "exchange/addresswatcher.h"

#include <QNetworkInterface>

MachineAddresses::MachineAddresses(QObject *parent) : MachineAddresses(&QNetworkInterface::allAddresses, parent)
{}

MachineAddresses::MachineAddresses(Reader reader, QObject *parent)
    : MachineAddresses(std::move(reader), &AddressWatcher::start, parent)
{}

MachineAddresses::MachineAddresses(Reader reader, const Watch &watch, QObject *parent)
    : QObject(parent), m_reader(std::move(reader))
{
    // A report may come on a thread of the system's: it is handed to this object's thread, and
    // dropped with the object if that has gone meanwhile.
    m_watcher = watch([this] { QMetaObject::invokeMethod(this, &MachineAddresses::reported, Qt::QueuedConnection); });
}

MachineAddresses::~MachineAddresses() = default;

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

void MachineAddresses::reported()
{
    m_stale = true;
    emit changed();
}
