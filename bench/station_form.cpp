// The reference for station_window.cpp: the station window's form alone (its .ui, built and
// shown by a program with no logic of its own), the same size and application setup: the floor
// any window with these widgets and fonts pays.

#include "app/appsetup.h"
#include "benchprobe.h"
#include "ui_stationwindow.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    const qint64 entered = BenchProbe::realtimeNs();
    prepareDisplayScaling();
    QApplication app(argc, argv);
    const qint64 appReady = BenchProbe::realtimeNs();
    QMainWindow window;
    Ui::StationWindow form;
    form.setupUi(&window);
    form.banner->hide();
    form.refusal->hide();
    window.resize(1280, 720);
    const qint64 built = BenchProbe::realtimeNs();
    new FirstPaintProbe(&window, FirstPaintProbe::idleSecondsFromArguments());
    window.show();
    BenchProbe::report("main_ns", entered);
    BenchProbe::report("app_ns", appReady);
    BenchProbe::report("built_ns", built);
    return app.exec();
}
