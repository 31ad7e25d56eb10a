#include "qmain.h"

#include "mainwindow.h"

#include <QApplication>

int qMain(int argc, char** argv)
{
    QApplication a(argc, argv);
    int code = 0;
    {
        // The window (and with it every dock and connection) goes before the application object.
        MainWindow w;
        w.show();
        code = a.exec();
    }
    return code;
}
