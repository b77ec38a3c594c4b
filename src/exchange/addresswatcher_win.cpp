// Windows: NotifyUnicastIpAddressChange calls back on a thread of the system's at every change.
#include "exchange/addresswatcher_win.h"

#include "core/logging.h"

#include <utility>

namespace {

class NotifyWatcher final : public AddressWatcher
{
public:
    NotifyWatcher(Report report, const AddressNotifyCalls &calls) : m_report(std::move(report)), m_calls(calls) {}
    ~NotifyWatcher() override
    {
        // Waits for a call in progress, so that none reaches a watcher that is gone.
        if (m_handle)
            m_calls.cancel(m_handle);
    }

    bool registerWithSystem()
    {
        HANDLE handle = nullptr;
        const NETIO_STATUS status = m_calls.notify(AF_UNSPEC, &NotifyWatcher::changed, this, FALSE, &handle);
        // A registration without a handle cannot be a real one: nothing would ever report.
        if (status == NO_ERROR && handle != nullptr) {
            m_handle = handle;
            return true;
        }
        if (status == NO_ERROR)
            qCInfo(lcExchange, "the system does not report changes of the machine's addresses (registered without a "
                               "handle); the list is read afresh at every tick");
        else
            qCInfo(lcExchange,
                   "the system does not report changes of the machine's addresses (error %lu); the list is "
                   "read afresh at every tick",
                   static_cast<unsigned long>(status));
        return false;
    }

private:
    static void WINAPI changed(PVOID context, PMIB_UNICASTIPADDRESS_ROW /*row*/, MIB_NOTIFICATION_TYPE type)
    {
        if (type != MibInitialNotification)
            static_cast<NotifyWatcher *>(context)->m_report();
    }

    Report m_report;
    AddressNotifyCalls m_calls;
    HANDLE m_handle = nullptr;
};

} // namespace

std::unique_ptr<AddressWatcher> watchWindowsAddresses(AddressWatcher::Report report, const AddressNotifyCalls &calls)
{
    auto watcher = std::make_unique<NotifyWatcher>(std::move(report), calls);
    if (!watcher->registerWithSystem())
        return nullptr;
    return watcher;
}

std::unique_ptr<AddressWatcher> AddressWatcher::start(Report report)
{
    return watchWindowsAddresses(std::move(report));
}
