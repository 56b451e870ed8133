#include "app/mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
#ifndef Q_OS_WIN
    // On Windows the executable's own icon resource serves as the window icon.
    app.setWindowIcon(QIcon(QStringLiteral(":/logos/icon.ico")));
#endif
    MainWindow window;
    window.show();
    return app.exec();
}
