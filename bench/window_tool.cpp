// The tool's main() with time stamps: entry, application ready, window built, first frame
// painted. With "--idle SECONDS" it stays open that long and reports CPU time and peak memory.

#include "app/appsetup.h"
#include "app/devicestate.h"
#include "app/display.h"
#include "app/mainwindow.h"
#include "benchprobe.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    const qint64 entered = BenchProbe::realtimeNs();
    prepareDisplay();
    QApplication app(argc, argv);
    const qint64 appReady = BenchProbe::realtimeNs();
    MainWindow window;
    prepareApplication(app, window);
    const qint64 built = BenchProbe::realtimeNs();
    new FirstPaintProbe(&window, FirstPaintProbe::idleSecondsFromArguments());
    window.show();

    BenchProbe::report("main_ns", entered);
    BenchProbe::report("app_ns", appReady);
    BenchProbe::report("built_ns", built);
    BenchProbe::report("connected", qint64(deviceConnected));
    const int status = app.exec();
    // The idle figures mean "while connected" only if the link held throughout.
    BenchProbe::report("connected_at_end", qint64(deviceConnected));
    return status;
}
