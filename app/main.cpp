#include "app/appsetup.h"
#include "app/display.h"
#include "app/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    prepareDisplay();
    QApplication app(argc, argv);
    MainWindow window;
    prepareApplication(app, window);
    window.show();
    return app.exec();
}
