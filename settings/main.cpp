// Entry of Quenset.exe: the application object does the work in InitInstance.
#include "SettingsApp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quenset"));
    QApplication::setApplicationVersion(QStringLiteral("2.2"));
    theApp.InitInstance();
    return 0;
}
