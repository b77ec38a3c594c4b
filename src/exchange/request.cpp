// The update request: log in and report the local address.
#include "exchange/request.h"

#include "app/frmDDNS.h"

void frmDDNS::SendUpdateRequest() {}
