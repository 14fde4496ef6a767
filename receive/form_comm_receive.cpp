// Receive handling, frame assembly, the activity indicator and the instrument profiles.
// (Scaffold: filled in with the receive path.)
#include "app/form_comm.h"

void Form_Comm::setupReceive() {}
void Form_Comm::MSComm1_OnComm() {}
bool Form_Comm::Read_buffer(const QByteArray &sChar)
{
    FrameBuffer += sChar;
    return false;
}
QByteArray Form_Comm::StripFrame(const QByteArray &) const { return {}; }
void Form_Comm::FlushFrame() {}
void Form_Comm::Timer1_Timer() {}
void Form_Comm::cbo_APP_Click() {}
