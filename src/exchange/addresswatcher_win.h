#pragma once
// The Windows address watcher with the system's two calls handed in, so that a test can play the
// system where Wine's registration never reports.

#include "exchange/addresswatcher.h"

#include <winsock2.h>

#include <ws2ipdef.h>

#include <iphlpapi.h>

#include <netioapi.h>

struct AddressNotifyCalls {
    decltype(&::NotifyUnicastIpAddressChange) notify = &::NotifyUnicastIpAddressChange;
    // Returns only once no call of the callback is in progress, and none comes after it.
    decltype(&::CancelMibChangeNotify2) cancel = &::CancelMibChangeNotify2;
};

std::unique_ptr<AddressWatcher> watchWindowsAddresses(AddressWatcher::Report report,
                                                      const AddressNotifyCalls &calls = AddressNotifyCalls());
