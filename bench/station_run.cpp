// The station window with a shipment's list, started as its command line starts it, on the
// virtual USB bench: prints when it is ready for loggers (ready_ns), when every listed logger is
// verified and the run is over (finished_ns), and the longest gap between two ticks of a 10 ms
// timer in its event loop meanwhile (longest_gap_ms) with the processor time the program took in
// it (longest_gap_cpu_ms: the rest of the gap it waited for the processor or the disk), and the
// most processor time it took between two ticks (busiest_gap_cpu_ms), then ends.
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
    qint64 cpuAtTick = 0;
    qint64 longestCpuUs = 0; // the processor time the program itself took in the longest gap
    qint64 busiestUs = 0; // the most processor time the program took between two ticks
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, &window, [&] {
        const qint64 cpu = BenchProbe::processCpuUs();
        if (sinceTick.nsecsElapsed() > longestNs) {
            longestNs = sinceTick.nsecsElapsed();
            longestCpuUs = cpu - cpuAtTick;
        }
        busiestUs = qMax(busiestUs, cpu - cpuAtTick);
        cpuAtTick = cpu;
        sinceTick.start();
    });

    Choices::Given given;
    given.profile = arguments.at(1);
    given.expect = arguments.at(2);
    given.log = arguments.at(3);
    given.operatorName = QStringLiteral("bench");
    QObject::connect(&window, &StationWindow::runFinished, &window, [&] {
        BenchProbe::report("finished_ns", BenchProbe::realtimeNs());
        BenchProbe::report("longest_gap_ms", longestNs / 1e6);
        BenchProbe::report("longest_gap_cpu_ms", longestCpuUs / 1e3);
        BenchProbe::report("busiest_gap_cpu_ms", busiestUs / 1e3);
        QApplication::quit();
    });
    QTimer::singleShot(0, &window, [&] {
        QString error;
        if (!window.startWith(given, &error)) {
            std::fprintf(stderr, "bench-station-run: %s\n", qUtf8Printable(error));
            QApplication::exit(2);
            return;
        }
        cpuAtTick = BenchProbe::processCpuUs();
        sinceTick.start();
        ticker.start();
        BenchProbe::report("ready_ns", BenchProbe::realtimeNs());
    });
    return app.exec();
}
