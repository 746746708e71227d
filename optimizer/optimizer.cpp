// The TCP/IP optimizer page.

#include "app/frmmain.h"

void frmmain::readCurrentTcpValues() {}

void frmmain::refreshCurrentTcpValues() {}

void frmmain::Combo1_Click() {}

void frmmain::Command12_Click() {}
