#pragma once

#include <QObject>
#include <QtGlobal>

class QWidget;

namespace BenchProbe {

// Wall-clock nanoseconds (CLOCK_REALTIME), comparable with the runner's time.time_ns().
qint64 realtimeNs();
// User plus system CPU time of the whole process, all threads, in microseconds.
qint64 processCpuUs();
// Peak resident set size of the process, in KiB.
long maxRssKib();

// One "key value" line on standard output, flushed at once.
void report(const char *key, qint64 value);
void report(const char *key, double value);

} // namespace BenchProbe

// Reports when the first frame of a top-level window has been painted and flushed, then either
// quits or, with idleSeconds > 0, lets the program sit for that long (after a short settling
// time) and reports the CPU time and the peak memory used meanwhile.
class FirstPaintProbe : public QObject
{
    Q_OBJECT

public:
    FirstPaintProbe(QWidget *window, int idleSeconds);

    // "--idle SECONDS" from the application's arguments, 0 without it.
    static int idleSecondsFromArguments();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void painted();
    void startIdle();

    QWidget *m_window;
    int m_idleSeconds;
    bool m_seen = false;
    qint64 m_idleCpuUs = 0;
    qint64 m_idleWallNs = 0;
};
