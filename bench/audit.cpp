// The audit record against its size.
//
//   bench-audit make N FILE              A chained record of N lines like a station's, for
//                                        "tempyra-cli audit verify".
//   bench-audit append RUNS SMALL LARGE  Makes SMALL with 10 lines and LARGE with 100,000, then
//                                        appends one line to each in turn, RUNS times, as
//                                        tempyra-cli does after a write (lock, end of the file,
//                                        one write); prints the median of each.

#include "audit.h"
#include "benchprobe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kWarmUp = 5;

[[noreturn]] void fail(const QString &what)
{
    std::fprintf(stderr, "bench-audit: %s\n", qPrintable(what));
    std::exit(1);
}

// One write as a station records it, a little over 500 bytes.
QJsonObject writeLine(int n)
{
    const QJsonObject alarm {{QStringLiteral("enabled"), true},
                             {QStringLiteral("lower"), 2},
                             {QStringLiteral("upper"), 8}};
    return {{QStringLiteral("attempt"), 1},
            {QStringLiteral("clock"), QStringLiteral("2026-12-07 04:30:01")},
            {QStringLiteral("configuration"),
             QJsonObject {{QStringLiteral("alarm"), alarm},
                          {QStringLiteral("interval"), QStringLiteral("00:10")},
                          {QStringLiteral("report"), QStringLiteral("pdf")},
                          {QStringLiteral("scale"), QStringLiteral("C")},
                          {QStringLiteral("startDelay"), QStringLiteral("00:30")},
                          {QStringLiteral("zone"), QStringLiteral("UTC+05:30")}}},
            {QStringLiteral("device"), QStringLiteral("TL-%1").arg(n % 10000, 4, 10, QChar('0'))},
            {QStringLiteral("host"), QStringLiteral("dispatch-desk-2")},
            {QStringLiteral("location"), QStringLiteral("/dev/ttyACM0")},
            {QStringLiteral("operator"), QStringLiteral("Ana Lima")},
            {QStringLiteral("outcome"), QStringLiteral("verified")},
            {QStringLiteral("port"), QStringLiteral("ttyACM0")},
            {QStringLiteral("time"), QStringLiteral("2026-12-06T23:00:01.922Z")},
            {QStringLiteral("user"), QStringLiteral("ana")}};
}

void make(int lines, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail(file.errorString());
    QByteArray previous;
    QByteArray data;
    for (int n = 0; n < lines; ++n) {
        previous = Audit::chainedLine(writeLine(n), previous);
        data += previous + '\n';
    }
    if (file.write(data) != data.size())
        fail(file.errorString());
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void append(int runs, const QString &small, const QString &large)
{
    make(10, small);
    make(100000, large);
    std::vector<double> smallUs;
    std::vector<double> largeUs;
    for (int run = 0; run < runs + kWarmUp; ++run) {
        for (const QString &path : {small, large}) {
            QList<QJsonObject> line {writeLine(run)};
            QString error;
            QElapsedTimer timer;
            timer.start();
            if (!Audit::append(path, line, nullptr, &error))
                fail(error);
            if (run >= kWarmUp)
                (path == small ? smallUs : largeUs).push_back(timer.nsecsElapsed() / 1000.0);
        }
    }
    BenchProbe::report("append_small_us", median(smallUs));
    BenchProbe::report("append_large_us", median(largeUs));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 4 && arguments[1] == QLatin1String("make"))
        make(arguments[2].toInt(), arguments[3]);
    else if (arguments.size() == 5 && arguments[1] == QLatin1String("append"))
        append(arguments[2].toInt(), arguments[3], arguments[4]);
    else
        fail(QStringLiteral("usage: bench-audit make N FILE | append RUNS SMALL LARGE"));
    return 0;
}
