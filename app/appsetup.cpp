#include "app/appsetup.h"
#include "app/appsetup_p.h"

#include "app/devicestate.h"
#include "app/terminationsignals.h"

#include <QApplication>
#include <QSerialPort>
#include <QWidget>

void prepareApplication(QApplication &app, QWidget &mainWindow)
{
    // The window's destructor closes the port, and with it goes the port's lock file.
    watchTerminationSignals(&app, [](TerminationRequest) { QCoreApplication::quit(); });
    // At a logoff or shutdown Windows ends the process right after aboutToQuit, before any
    // destructor runs: the port is closed here, without sending anything, on every way out.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &mainWindow, [] {
        if (serialPort && serialPort->isOpen())
            serialPort->close();
    });
    preparePlatform(mainWindow);
}
