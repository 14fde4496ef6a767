// Capture set-up and the record writer of the monitor window. (Scaffold.)
#include "app/form_comm.h"
#include "capture/fileservice.h"
#include "capture/savedialog.h"

void Form_Comm::setupCapture() {}
void Form_Comm::chk_file_Click() {}
void Form_Comm::lbl_filename_Change() {}
void Form_Comm::WriteToFile(const QByteArray &, const QByteArray &) {}
