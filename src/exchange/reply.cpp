// The service's replies: login outcome, reported address and cookie.
#include "exchange/reply.h"

#include "app/frmDDNS.h"

void frmDDNS::Winsock1_DataArrival(qint32) {}

void frmDDNS::ClearError() {}

void frmDDNS::OnLoginSucceeded() {}

void frmDDNS::OnLoginFailed() {}
