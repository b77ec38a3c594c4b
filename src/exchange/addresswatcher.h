#pragma once
// Reports of changes of the machine's addresses, where the system makes them. One file per system
// answers it (addresswatcher_linux.cpp: a netlink route socket; addresswatcher_win.cpp:
// NotifyUnicastIpAddressChange); addresswatcher_none.cpp reports nothing.

#include <functional>
#include <memory>

class AddressWatcher
{
public:
    // Called at each report, on whichever thread the system reports on; never once the watcher is
    // gone.
    using Report = std::function<void()>;

    // Starts watching from the calling thread. Null where the system makes no reports; the log
    // then says why.
    static std::unique_ptr<AddressWatcher> start(Report report);

    virtual ~AddressWatcher() = default;
    AddressWatcher(const AddressWatcher &) = delete;
    AddressWatcher &operator=(const AddressWatcher &) = delete;

protected:
    AddressWatcher() = default;
};
