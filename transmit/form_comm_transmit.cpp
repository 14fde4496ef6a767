// Command sending. (Scaffold: filled in with command sending.)
#include "app/form_comm.h"

void Form_Comm::setupTransmit() {}
void Form_Comm::cmd_Send_Click() {}
