// The audit record against its size, and signed against unsigned.
//
//   bench-audit make N FILE [KEY]    A chained record of N lines like a station's, signed with
//                                    the station key KEY (made when it does not exist), for
//                                    "tempyra-cli audit verify" and "report".
//   bench-audit append RUNS DIR      Makes in DIR a record of 10 lines, one of 100,000 and one
//                                    of 100,000 signed lines with DIR/station.key, then appends
//                                    one line to each in turn, RUNS times, as tempyra-cli does
//                                    after a write (lock, end of the file, one write flushed to
//                                    the disk), the signed record's signed; prints the median
//                                    of each.

#include "record/audit.h"
#include "benchprobe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>

#include <optional>

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

std::optional<StationKey> stationKey(const QString &path)
{
    QString error;
    std::optional<StationKey> key = QFile::exists(path)
        ? StationKey::load(path, &error)
        : StationKey::create(path, QStringLiteral("made by the benchmark"), &error);
    if (!key)
        fail(error);
    return key;
}

void make(int lines, const QString &path, const StationKey *key)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail(file.errorString());
    QByteArray previous;
    QByteArray data;
    for (int n = 0; n < lines; ++n) {
        previous = Audit::chainedLine(writeLine(n), previous, key);
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

void append(int runs, const QString &dir)
{
    const std::optional<StationKey> key = stationKey(dir + QStringLiteral("/station.key"));
    struct Record
    {
        QString path;
        const StationKey *key;
        std::vector<double> us;
        Audit::Mark mark; // held to it as a station's appends are
    };
    Record records[] = {{dir + QStringLiteral("/small.jsonl"), nullptr, {}, {}},
                        {dir + QStringLiteral("/large.jsonl"), nullptr, {}, {}},
                        {dir + QStringLiteral("/signed.jsonl"), &*key, {}, {}}};
    make(10, records[0].path, nullptr);
    make(100000, records[1].path, nullptr);
    make(100000, records[2].path, &*key);
    for (Record &record : records) {
        QString error;
        const std::optional<Audit::Usable> usable = Audit::usable(record.path, false, &error);
        if (!usable)
            fail(error);
        record.mark = usable->mark;
    }
    for (int run = 0; run < runs + kWarmUp; ++run) {
        for (Record &record : records) {
            QList<QJsonObject> line {writeLine(run)};
            QString error;
            QElapsedTimer timer;
            timer.start();
            if (Audit::append(record.path, line, record.key, &error, nullptr, &record.mark)
                != Audit::Appended::Yes)
                fail(error);
            if (run >= kWarmUp)
                record.us.push_back(timer.nsecsElapsed() / 1000.0);
        }
    }
    BenchProbe::report("append_small_us", median(records[0].us));
    BenchProbe::report("append_large_us", median(records[1].us));
    BenchProbe::report("append_signed_us", median(records[2].us));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if ((arguments.size() == 4 || arguments.size() == 5) && arguments[1] == QLatin1String("make")) {
        const std::optional<StationKey> key
            = arguments.size() == 5 ? stationKey(arguments[4]) : std::nullopt;
        make(arguments[2].toInt(), arguments[3], key ? &*key : nullptr);
    } else if (arguments.size() == 4 && arguments[1] == QLatin1String("append")) {
        append(arguments[2].toInt(), arguments[3]);
    } else {
        fail(QStringLiteral("usage: bench-audit make N FILE [KEY] | append RUNS DIR"));
    }
    return 0;
}
