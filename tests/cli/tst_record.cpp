#include "audit.h"
#include "report.h"
#include "session.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class RecordTest : public QObject
{
    Q_OBJECT

private slots:
    void chain_data();
    void chain();
    void proof_data();
    void proof();
    void append_data();
    void append();
    void expectedList_data();
    void expectedList();
    void summary_data();
    void summary();
    void report_data();
    void report();
};

namespace {

// A record's lines: the first `legacy` without a chain, as written before lines were chained.
QList<QByteArray> record(int count, int legacy = 0)
{
    QList<QByteArray> lines;
    for (int i = 0; i < count; ++i) {
        const QJsonObject line {{QStringLiteral("device"), QStringLiteral("TL-%1").arg(i + 1)},
                                {QStringLiteral("outcome"), QStringLiteral("verified")}};
        lines.append(i < legacy ? QJsonDocument(line).toJson(QJsonDocument::Compact)
                                : Audit::chainedLine(line, lines.value(i - 1)));
    }
    return lines;
}

// Two station keys, made once: the station's own and another one.
const StationKey &stationKey(int which)
{
    static QTemporaryDir dir;
    static const std::optional<StationKey> keys[]
        = {StationKey::create(dir.filePath(QStringLiteral("a.key")), {}, nullptr),
           StationKey::create(dir.filePath(QStringLiteral("b.key")), {}, nullptr)};
    return *keys[which];
}

QList<QByteArray> signedRecord(int count)
{
    QList<QByteArray> lines;
    for (int i = 0; i < count; ++i)
        lines.append(
            Audit::chainedLine({{QStringLiteral("device"), QStringLiteral("TL-%1").arg(i + 1)},
                                {QStringLiteral("outcome"), QStringLiteral("mismatch")}},
                               lines.value(i - 1), &stationKey(0)));
    return lines;
}

// What an attacker without the key does: lines from first on (from 0) edited as JSON, their
// keys sorted as a JSON tool writes them, and the chain computed again from there.
QList<QByteArray> rewritten(QList<QByteArray> lines, int first, bool stripChain = false)
{
    for (int i = first; i < lines.size(); ++i) {
        QJsonObject line = QJsonDocument::fromJson(lines[i]).object();
        line[QStringLiteral("outcome")] = QStringLiteral("verified");
        if (stripChain) {
            for (const char *key : {"seq", "prev", "signer", "signature"})
                line.remove(QLatin1String(key));
        } else if (i > 0) {
            line[QStringLiteral("prev")] = QString::fromLatin1(Audit::lineHash(lines[i - 1]));
        }
        lines[i] = QJsonDocument(line).toJson(QJsonDocument::Compact);
    }
    return lines;
}

QByteArray joined(const QList<QByteArray> &lines)
{
    QByteArray data;
    for (const QByteArray &line : lines)
        data += line + '\n';
    return data;
}

} // namespace

void RecordTest::chain_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("line"); // the first line at fault, or the unchained lines
    QTest::addColumn<QString>("problem");

    const QList<QByteArray> six = record(6);
    const auto row = [](const char *name, const QByteArray &data, int result, int line,
                        const char *problem = "") {
        QTest::newRow(name) << data << result << line << QString::fromLatin1(problem);
    };
    using V = Audit::Verification;
    row("intact", joined(six), V::Whole, 0);
    row("empty", QByteArray(), V::Whole, 0);
    QList<QByteArray> lines = six;
    lines[2].replace("verified", "mismatch");
    row("line 3 edited", joined(lines), V::Broken, 3, "was changed");
    lines = six;
    lines[3].replace("\"prev\":\"", "\"prev\":\"0");
    row("line 4's prev edited", joined(lines), V::Broken, 4, "was changed");
    lines = six;
    lines.removeAt(3);
    row("line 4 removed", joined(lines), V::Broken, 4, "1 line(s) before it were removed");
    lines = six;
    lines.removeFirst();
    row("first line removed", joined(lines), V::Broken, 1, "were removed");
    lines = six;
    lines.swapItemsAt(1, 2);
    row("lines 2 and 3 swapped", joined(lines), V::Broken, 2, "out of order");
    lines = six;
    lines.insert(3,
                 Audit::chainedLine({{QStringLiteral("device"), QStringLiteral("TL-9")}}, six[2]));
    row("line 4 inserted, chained to line 3", joined(lines), V::Broken, 4, "inserted");
    row("another record joined", joined(six + record(2)), V::Broken, 7, "another record");
    lines = six;
    lines[1] = "{\"device\":";
    row("line 2 broken", joined(lines), V::Broken, 2, "not valid JSON");
    QByteArray cut = joined(six);
    cut.chop(20);
    row("last line cut short", cut, V::Broken, 6, "cut short");
    lines = six;
    lines[4] = QJsonDocument(QJsonObject {{QStringLiteral("device"), QStringLiteral("TL-9")}})
                   .toJson(QJsonDocument::Compact);
    row("a line without prev among chained ones", joined(lines), V::Broken, 5, "no \"prev\"");
    row("written before chaining, then chained", joined(record(5, 2)), V::Whole, 2);
    row("written before chaining only", joined(record(3, 3)), V::Unchained, 3);
}

void RecordTest::chain()
{
    QFETCH(QByteArray, data);
    QFETCH(int, result);
    QFETCH(int, line);
    QFETCH(QString, problem);

    const Audit::Verification check = Audit::verify(data);
    QCOMPARE(int(check.result), result);
    QCOMPARE(result == Audit::Verification::Broken ? check.line : check.unchained, line);
    QVERIFY2(check.problem.contains(problem), qPrintable(check.problem));
}

void RecordTest::proof_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("trust"); // -1: no key given; else the key trusted
    QTest::addColumn<QStringList>("heads");
    QTest::addColumn<QString>("found");

    const QList<QByteArray> six = signedRecord(6);
    const QString head6 = Audit::Head {6, Audit::lineHash(six[5])}.text();
    const QString head4 = Audit::Head {4, Audit::lineHash(six[3])}.text().left(2 + 16);
    const auto row = [](const char *name, const QList<QByteArray> &lines, int trust,
                        const QStringList &heads, const char *found) {
        QTest::newRow(name) << joined(lines) << trust << heads << QString::fromLatin1(found);
    };
    row("signed, trusted", six, 0, {head6}, "passed; 1-6 A trusted; head held");
    row("signed, no key given", six, -1, {}, "passed; 1-6 A");
    row("signed by a key not trusted", six, 1, {}, "failed; 1-6 A");
    row("line 3 rewritten and the chain computed again", rewritten(six, 2), 0, {},
        "failed; line 3 does not match; 1-6 A trusted");
    row("the same, no key but a head noted", rewritten(six, 2), -1, {head6},
        "failed; 1-6 A; head not held");
    // The old lines pass for lines written before the record was chained.
    QList<QByteArray> stripped = rewritten(six, 0, true).mid(0, 3);
    for (int i = 3; i < 6; ++i)
        stripped.append(Audit::chainedLine(
            {{QStringLiteral("device"), QStringLiteral("TL-%1").arg(i + 1)}}, stripped[i - 1]));
    row("old lines stripped of their chain, the rest chained again", stripped, 0, {},
        "failed; 1-6 unsigned");
    row("the same, no key but a head noted", stripped, -1, {head6},
        "failed; 1-6 unsigned; head not held");
    row("two lines cut off the end", six.mid(0, 4), -1, {head6, head4},
        "failed; 1-4 A; head not held; head held");
    QList<QByteArray> mixed = signedRecord(3);
    mixed.append(Audit::chainedLine({}, mixed.last(), &stationKey(1)));
    mixed.append(Audit::chainedLine({}, mixed.last()));
    row("a line by another station, then an unsigned one", mixed, 0, {},
        "failed; 1-3 A trusted; 4-4 B; 5-5 unsigned");

    // A line cut short, repaired.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cut.jsonl"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(joined(six.mid(0, 4)) + six[4].left(100));
    file.close();
    bool repaired = false;
    QString error;
    QVERIFY(Audit::repair(path, &stationKey(0), {}, &repaired, &error) && repaired);
    file.open(QIODevice::ReadOnly);
    QTest::newRow("a line cut short, carried by a repair line")
        << file.readAll() << 0 << QStringList() << "passed; repair 5>6; 1-6 A trusted";
}

void RecordTest::proof()
{
    QFETCH(QByteArray, data);
    QFETCH(int, trust);
    QFETCH(QStringList, heads);
    QFETCH(QString, found);

    Signature::TrustedKeys trusted;
    if (trust >= 0) {
        const QByteArray file = stationKey(trust).publicKeyFile();
        QTemporaryDir dir;
        QFile pub(dir.filePath(QStringLiteral("station.pub")));
        QVERIFY(pub.open(QIODevice::WriteOnly) && pub.write(file) == file.size());
        pub.close();
        QString error;
        trusted = *Signature::readTrusted({dir.path()}, &error);
    }
    Audit::Checks checks {trust >= 0 ? &trusted : nullptr, {}};
    for (const QString &head : heads)
        checks.heads.append(*Audit::Head::parse(head));
    const Audit::Verification check = Audit::verify(data, checks);

    QStringList parts {QLatin1String(check.passed() ? "passed" : "failed")};
    if (check.badSignatures > 0)
        parts.append(QStringLiteral("line %1 does not match").arg(check.badSignature));
    for (const auto &repair : check.repairs)
        parts.append(QStringLiteral("repair %1>%2").arg(repair.cutLine).arg(repair.repairLine));
    for (const auto &run : check.signers)
        parts.append(QStringLiteral("%1-%2 %3%4")
                         .arg(run.first)
                         .arg(run.last)
                         .arg(run.signer.isEmpty() ? QStringLiteral("unsigned")
                                  : run.signer == stationKey(0).fingerprint() ? QStringLiteral("A")
                                                                              : QStringLiteral("B"))
                         .arg(QLatin1String(run.trusted ? " trusted" : "")));
    for (const auto &head : check.heads)
        parts.append(QLatin1String(head.held ? "head held" : "head not held"));
    QCOMPARE(parts.join(QLatin1String("; ")), found);
}

void RecordTest::append_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("appended");

    QTest::newRow("new record") << QByteArray() << true;
    QTest::newRow("last line longer than the first read of the end")
        << joined(record(3)).replace("TL-3", QByteArray(20000, 'x')) << true;
    QTest::newRow("record written before chaining") << joined(record(2, 2)) << true;
    QTest::newRow("last line cut short") << joined(record(2)).left(30) << false;
    QTest::newRow("last line whole but for its newline") << joined(record(2)).trimmed() << false;
}

void RecordTest::append()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, appended);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("audit.jsonl"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
    file.close();
    QString error;
    // One line, then two under one lock.
    for (int count : {1, 2}) {
        QList<QJsonObject> lines;
        for (int i = 0; i < count; ++i) {
            lines.append({{QStringLiteral("device"), QStringLiteral("TL-0007")}});
            Audit::stamp(lines.last(), QStringLiteral("Ana"));
        }
        QCOMPARE(Audit::append(path, lines, &stationKey(0), &error), appended);
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray after = file.readAll();
    QVERIFY(!QFile::exists(path + QStringLiteral(".lock")));
    if (!appended) {
        QCOMPARE(after, before);
        return;
    }
    QVERIFY(after.startsWith(before));
    QVERIFY(Audit::verify(after).passed());
    // The new lines stay whole, each on a line of its own, whatever came before them.
    const QList<QByteArray> lines = after.trimmed().split('\n');
    for (const QByteArray &line : lines.mid(lines.size() - 3))
        QCOMPARE(QJsonDocument::fromJson(line).object().value(QStringLiteral("operator")),
                 QJsonValue(QStringLiteral("Ana")));
}

void RecordTest::expectedList_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("identifiers"); // empty: refused

    QTest::newRow("comments, blank lines, Windows line ends and a byte-order mark")
        << QByteArray("\xef\xbb\xbf# shipment 0412\r\nTL-0001\r\n\r\nTL-0002  # shelf 3\r\n")
        << QStringList {"TL-0001", "TL-0002"};
    QTest::newRow("a name with # inside, listed twice")
        << QByteArray("LAB#7\nLAB#7\n") << QStringList {"LAB#7"};
    QTest::newRow("comments only") << QByteArray("# none yet\n\n") << QStringList();
    QTest::newRow("a line longer than an identifier") << QByteArray(65, 'x') << QStringList();
}

void RecordTest::expectedList()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, identifiers);

    QString error;
    const std::optional<ExpectedList> list = ExpectedList::parse(text, &error);
    QCOMPARE(list ? list->toStringList() : QStringList(), identifiers);
    QCOMPARE(error.isEmpty(), !identifiers.isEmpty());
}

void RecordTest::summary_data()
{
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("outcomes"); // "logger outcome", in their order
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("missing");

    QTest::newRow("the last outcome of a logger counts")
        << QStringList() << QStringList {"B mismatch", "A not written", "B verified"}
        << QByteArray(R"({"failed":["A"],"mismatched":[],"refused":[],"verified":["B"],)"
                      R"("written":[]})")
        << QStringList();
    QTest::newRow("a list: refused, missing and never seen")
        << QStringList {"A", "B", "C"} << QStringList {"A verified", "X refused", "B unverified"}
        << QByteArray(R"({"failed":["B"],"mismatched":[],"neverSeen":["C"],"refused":["X"],)"
                      R"("verified":["A"],"written":[]})")
        << QStringList {"B", "C"};
}

void RecordTest::summary()
{
    QFETCH(QStringList, expected);
    QFETCH(QStringList, outcomes);
    QFETCH(QByteArray, json);
    QFETCH(QStringList, missing);

    Session session;
    QString error;
    if (!expected.isEmpty())
        session.expect(*ExpectedList::parse(expected.join(QLatin1Char('\n')).toUtf8(), &error));
    for (const QString &outcome : outcomes)
        session.add(outcome.section(QLatin1Char(' '), 0, 0),
                    Session::outcome(outcome.section(QLatin1Char(' '), 1)));
    QCOMPARE(QJsonDocument(session.json()).toJson(QJsonDocument::Compact), json);
    QCOMPARE(session.missing(), missing);
}

void RecordTest::report_data()
{
    QTest::addColumn<QString>("since");
    QTest::addColumn<QString>("until");
    QTest::addColumn<QStringList>("devices"); // the rows shown, in order

    QTest::newRow("whole record") << QString() << QString()
                                  << QStringList {"TL-0001", "&lt;b&gt;TL", "TL-0003"};
    QTest::newRow("until a date: that whole day")
        << QString() << "2026-12-06" << QStringList {"TL-0001", "&lt;b&gt;TL"};
    QTest::newRow("since a time, local")
        << "2026-12-06 23:59:59" << QString() << QStringList {"TL-0003"};
}

void RecordTest::report()
{
    QFETCH(QString, since);
    QFETCH(QString, until);
    QFETCH(QStringList, devices);

    const auto line = [](const char *time, const char *device, const char *outcome) {
        return QJsonObject {{QStringLiteral("time"), QLatin1String(time)},
                            {QStringLiteral("device"), QLatin1String(device)},
                            {QStringLiteral("outcome"), QLatin1String(outcome)}};
    };
    // The device identifier comes from the logger: the page shows it, never runs it.
    const QList<QJsonObject> lines {line("2026-12-06T08:00:00.000Z", "TL-0001", "verified"),
                                    line("2026-12-06T23:59:58.000Z", "<b>TL", "refused"),
                                    line("2026-12-07T00:00:00.000Z", "TL-0003", "mismatch")};
    Audit::Verification check;
    check.result = Audit::Verification::Broken;
    check.line = 2;
    check.problem = QStringLiteral("was changed");
    const Report::Period period {Report::parseTime(since, false).value_or(QDateTime()),
                                 Report::parseTime(until, true).value_or(QDateTime())};
    QByteArray data;
    for (const QJsonObject &object : lines)
        data += QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    const QString page = Report::html(data, check, QStringLiteral("audit.jsonl"), {period, {}, {}},
                                      QDateTime::currentDateTime());

    static const QRegularExpression row(
        QStringLiteral("<tr class=\"\\w+\"><td>[^<]*</td><td>([^<]*)</td>"));
    QStringList shown;
    for (auto it = row.globalMatch(page); it.hasNext();)
        shown.append(it.next().captured(1));
    QCOMPARE(shown, devices);
    QVERIFY(page.contains(QStringLiteral("BROKEN: line 2 was changed")));
    for (const char *fetched : {"<script", "src=", "url(", "@import", "http:", "https:"})
        QVERIFY2(!page.contains(QLatin1String(fetched)), fetched);
}

QTEST_GUILESS_MAIN(RecordTest)
#include "tst_record.moc"
