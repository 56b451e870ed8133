// The station window with a shipment's list, started as its command line starts it, on the
// virtual USB bench: prints when it is ready for loggers (ready_ns), when every listed logger is
// verified and the run is over (finished_ns), and the longest gap between two ticks of a 10 ms
// timer in its event loop meanwhile (longest_gap_ms), then ends.
//   bench-station-run PROFILE LIST RECORD

#include "benchprobe.h"
#include "stationwindow/stationwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 4)
        return 2;
    StationWindow window;
    window.resize(1366, 730);
    window.show();

    QElapsedTimer sinceTick;
    qint64 longestNs = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, &window, [&] {
        longestNs = qMax(longestNs, sinceTick.nsecsElapsed()), sinceTick.start();
    });

    Choices::Given given;
    given.profile = arguments.at(1);
    given.expect = arguments.at(2);
    given.log = arguments.at(3);
    given.operatorName = QStringLiteral("bench");
    QObject::connect(&window, &StationWindow::runFinished, &window, [&] {
        BenchProbe::report("finished_ns", BenchProbe::realtimeNs());
        BenchProbe::report("longest_gap_ms", longestNs / 1e6);
        QApplication::quit();
    });
    QTimer::singleShot(0, &window, [&] {
        QString error;
        if (!window.startWith(given, &error)) {
            std::fprintf(stderr, "bench-station-run: %s\n", qUtf8Printable(error));
            QApplication::exit(2);
            return;
        }
        sinceTick.start();
        ticker.start();
        BenchProbe::report("ready_ns", BenchProbe::realtimeNs());
    });
    return app.exec();
}
