#include "benchprobe.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <ctime>

namespace {
// Lets the first second of the program (deferred loading, the first clock tick) pass before
// the idle window opens.
constexpr int kSettleMs = 2000;
} // namespace

qint64 BenchProbe::realtimeNs()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void BenchProbe::report(const char *key, qint64 value)
{
    std::printf("%s %lld\n", key, static_cast<long long>(value));
    std::fflush(stdout);
}

void BenchProbe::report(const char *key, double value)
{
    std::printf("%s %.3f\n", key, value);
    std::fflush(stdout);
}

FirstPaintProbe::FirstPaintProbe(QWidget *window, int idleSeconds)
    : QObject(window)
    , m_window(window)
    , m_idleSeconds(idleSeconds)
{
    qApp->installEventFilter(this);
}

int FirstPaintProbe::idleSecondsFromArguments()
{
    const QStringList arguments = QCoreApplication::arguments();
    const int at = arguments.indexOf(QStringLiteral("--idle"));
    return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1).toInt() : 0;
}

bool FirstPaintProbe::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_seen && event->type() == QEvent::Paint && watched == m_window) {
        m_seen = true;
        // The children are painted and the frame flushed before control returns to the loop.
        QTimer::singleShot(0, this, &FirstPaintProbe::painted);
    }
    return false;
}

void FirstPaintProbe::painted()
{
    BenchProbe::report("painted_ns", BenchProbe::realtimeNs());
    qApp->removeEventFilter(this);
    if (m_idleSeconds <= 0) {
        QCoreApplication::quit();
        return;
    }
    QTimer::singleShot(kSettleMs, this, &FirstPaintProbe::startIdle);
}

void FirstPaintProbe::startIdle()
{
    m_idleCpuUs = BenchProbe::processCpuUs();
    m_idleWallNs = BenchProbe::realtimeNs();
    QTimer::singleShot(m_idleSeconds * 1000, Qt::PreciseTimer, this, [this] {
        const qint64 cpuUs = BenchProbe::processCpuUs() - m_idleCpuUs;
        const qint64 wallNs = BenchProbe::realtimeNs() - m_idleWallNs;
        BenchProbe::report("idle_cpu_ms", cpuUs / 1000.0);
        BenchProbe::report("idle_wall_ms", wallNs / 1e6);
        BenchProbe::report("maxrss_kib", qint64(BenchProbe::maxRssKib()));
        QCoreApplication::quit();
    });
}
