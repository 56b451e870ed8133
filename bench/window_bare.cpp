// The reference for window_tool.cpp: a bare main window of the same fixed size, set up and shown
// the same way, with the same time stamps and the same "--idle SECONDS" option.

#include "app/display.h"
#include "benchprobe.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    const qint64 entered = BenchProbe::realtimeNs();
    prepareDisplay();
    QApplication app(argc, argv);
    const qint64 appReady = BenchProbe::realtimeNs();
    QMainWindow window;
    window.setFixedSize(440, 655);
    const qint64 built = BenchProbe::realtimeNs();
    new FirstPaintProbe(&window, FirstPaintProbe::idleSecondsFromArguments());
    window.show();

    BenchProbe::report("main_ns", entered);
    BenchProbe::report("app_ns", appReady);
    BenchProbe::report("built_ns", built);
    return app.exec();
}
