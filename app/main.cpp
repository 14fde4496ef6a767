#include "app/form_comm.h"
#include "capture/qtsavedialog.h"
#include "port/qtserialcontrol.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("commtest"));
    QApplication::setApplicationDisplayName(QStringLiteral("commtest"));
    Form_Comm window(std::make_unique<QtSerialControl>(), std::make_unique<QtSaveDialog>());
    window.show();
    return QApplication::exec();
}
