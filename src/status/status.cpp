// The status indicator: picture and Connect button caption from a status code.
#include "app/frmDDNS.h"

void frmDDNS::ShowServiceStatus(qint32) {}
