// The station window's start-up with time stamps, as tempyra-station's main() starts it with no
// choices given: the choice screen, settings read, profiles listed; first painted frame.

#include "app/display.h"
#include "benchprobe.h"
#include "stationwindow/stationwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    const qint64 entered = BenchProbe::realtimeNs();
    prepareDisplay();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tempyra-station"));
    const qint64 appReady = BenchProbe::realtimeNs();
    StationWindow window;
    window.resize(1280, 720);
    const qint64 built = BenchProbe::realtimeNs();
    new FirstPaintProbe(&window, FirstPaintProbe::idleSecondsFromArguments());
    window.show();
    BenchProbe::report("main_ns", entered);
    BenchProbe::report("app_ns", appReady);
    BenchProbe::report("built_ns", built);
    return app.exec();
}
