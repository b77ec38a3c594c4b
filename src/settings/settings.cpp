// config.dat beside the executable: the user's account.
#include "app/frmDDNS.h"

void frmDDNS::LoadSettings() {}

void frmDDNS::cmdSave_Click() {}

void frmDDNS::cmdDefault_Click() {}
