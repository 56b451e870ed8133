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
//   bench-audit people RUNS DIR      Makes in DIR a station key, two people's keys sealed with
//                                    the passphrase of DIR/pass, a team file trusting them, and
//                                    a record of 100,000 lines in runs of 999 signed in and out
//                                    by the operator, signed off every 10,000 lines; prints the
//                                    median time of opening a person's key, RUNS times.

#include "record/audit.h"
#include "benchprobe.h"
#include "record/personkey.h"
#include "record/trust.h"

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

// A person's line, as a station or audit sign-off writes it.
QJsonObject personLine(const char *kind, const PersonKey &person, QJsonObject what)
{
    what.insert(QStringLiteral("zone"), QStringLiteral("UTC"));
    return {{QLatin1String(kind), what},
            {QStringLiteral("person"), QLatin1String(person.fingerprint())},
            {QStringLiteral("host"), QStringLiteral("dispatch-desk-2")},
            {QStringLiteral("operator"), person.name()},
            {QStringLiteral("time"), QStringLiteral("2026-12-06T23:00:01.922Z")},
            {QStringLiteral("user"), QStringLiteral("ana")}};
}

void people(int runs, const QString &dir)
{
    QFile pass(dir + QStringLiteral("/pass"));
    if (!pass.open(QIODevice::WriteOnly) || pass.write("bench passphrase\n") < 0)
        fail(pass.errorString());
    pass.close();
    QString error;
    const std::optional<SecretBytes> secret = Passphrase::fromFile(pass.fileName(), &error);
    const std::optional<StationKey> station = stationKey(dir + QStringLiteral("/station.key"));
    std::optional<PersonKey> operatorKey = secret
        ? PersonKey::create(dir + QStringLiteral("/ana.key"), QStringLiteral("Ana Lima"), *secret,
                            {}, &error)
        : std::nullopt;
    std::optional<PersonKey> reviewer = operatorKey
        ? PersonKey::create(dir + QStringLiteral("/quinn.key"), QStringLiteral("Quinn QA"), *secret,
                            {}, &error)
        : std::nullopt;
    if (!reviewer)
        fail(error);
    Trust::Team team;
    const auto trust = [&team](const SigningKey &key, const QString &name, const QByteArray &sig,
                               Trust::Role role) {
        team.keys.append({key.fingerprint(),
                          key.publicKey(),
                          name,
                          sig,
                          false,
                          {{role, Trust::kAlways, Trust::kNever}},
                          Trust::kNever});
    };
    trust(*station, QStringLiteral("station"), {}, Trust::Role::Station);
    trust(*operatorKey, operatorKey->name(),
          operatorKey->sign(Trust::nameMessage(operatorKey->publicKey(), operatorKey->name())),
          Trust::Role::Operator);
    trust(*reviewer, reviewer->name(),
          reviewer->sign(Trust::nameMessage(reviewer->publicKey(), reviewer->name())),
          Trust::Role::Reviewer);
    QFile teamFile(dir + QStringLiteral("/team.txt"));
    if (!teamFile.open(QIODevice::WriteOnly) || teamFile.write(team.text()) < 0)
        fail(teamFile.errorString());

    QFile record(dir + QStringLiteral("/people.jsonl"));
    if (!record.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail(record.errorString());
    QByteArray previous;
    QByteArray data;
    const auto add = [&](const QJsonObject &line, const SigningKey &key) {
        previous = Audit::chainedLine(line, previous, &key);
        data += previous + '\n';
    };
    const QJsonObject station_ {{QStringLiteral("station"), QLatin1String(station->fingerprint())}};
    for (int n = 0; n < 100000; ++n) {
        if (n % 10000 == 9999) {
            add(personLine("signOff", *reviewer,
                           {{QStringLiteral("meaning"), QStringLiteral("reviewed")},
                            {QStringLiteral("covers"), QJsonValue::Null}}),
                *reviewer);
        } else if (n % 1000 == 0) {
            add(personLine("signIn", *operatorKey, station_), *operatorKey);
        } else if (n % 1000 == 998) {
            QJsonObject out = station_;
            out.insert(QStringLiteral("covers"), QJsonValue::Null);
            add(personLine("signOut", *operatorKey, out), *operatorKey);
        } else {
            // Between two runs a write with no operator signed in.
            QJsonObject line = writeLine(n);
            if (n % 1000 != 999)
                line.insert(QStringLiteral("person"), QLatin1String(operatorKey->fingerprint()));
            add(line, *station);
        }
    }
    if (record.write(data) != data.size())
        fail(record.errorString());
    record.close();

    std::vector<double> ms;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        if (!PersonKey::unlock(dir + QStringLiteral("/ana.key"), *secret, &error))
            fail(error);
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    BenchProbe::report("unlock_ms", median(ms));
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
    } else if (arguments.size() == 4 && arguments[1] == QLatin1String("people")) {
        people(arguments[2].toInt(), arguments[3]);
    } else {
        fail(QStringLiteral("usage: bench-audit make N FILE [KEY] | append RUNS DIR | people RUNS "
                            "DIR"));
    }
    return 0;
}
