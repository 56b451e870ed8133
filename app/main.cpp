#include "app/appsetup.h"
#include "app/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    prepareDisplayScaling();
    QApplication app(argc, argv);
    MainWindow window;
    prepareApplication(app, window);
    window.show();
    return app.exec();
}
