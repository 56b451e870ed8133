#include "station/report.h"

#include "record/jsonmembers.h"

#include "station/profile.h"
#include "station/session.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QMap>
#include <QSet>
#include <QStringBuilder>
#include <QThreadPool>
#include <QVector>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>

namespace {

// Printed on A4 and Letter alike: no page size is forced, widths are shares of the page, a
// table's head repeats on every page and no row is split. Every page names the record and its
// head at the top, and counts the pages. An outcome is a word, in capitals and bold unless
// verified, never broken inside, so that the page reads in black and white; colour only adds
// to it.
const char kStyle[] = R"(
@page { margin: 16mm 12mm 14mm;
        @top-right { content: "page " counter(page) " of " counter(pages); font: 8pt sans-serif; } }
* { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
body { font: 9pt/1.35 "DejaVu Sans", "Segoe UI", Arial, sans-serif; color: #000;
       margin: 0 auto; max-width: 60em; }
h1 { font-size: 14pt; margin: 0 0 4pt; }
h2 { font-size: 11pt; margin: 12pt 0 3pt; break-after: avoid; page-break-after: avoid; }
table { width: 100%; border-collapse: collapse; }
.facts th { text-align: left; width: 18%; vertical-align: top; padding: 1pt 6pt 1pt 0; }
.facts td { padding: 1pt 0; overflow-wrap: anywhere; }
.rows { table-layout: fixed; }
.rows thead { display: table-header-group; }
.rows tr { break-inside: avoid; page-break-inside: avoid; }
.rows th { text-align: left; border-bottom: 1.2pt solid #000; padding: 2pt 3pt; }
.rows td { border-bottom: 0.5pt solid #888; padding: 2pt 3pt; vertical-align: baseline;
           overflow-wrap: anywhere; }
.rows .n { text-align: right; }
.rows td.n, .rows td.time { font-size: 8pt; white-space: nowrap; }
.loggers col.logger { width: 23%; } .loggers col.outcome { width: 14%; }
.loggers col.n { width: 10%; } .loggers col.time { width: 18%; } .loggers col.host { width: 17%; }
.attempts col.n { width: 7%; } .attempts col.time { width: 17%; }
.attempts col.logger { width: 14%; } .attempts col.port { width: 9%; }
.attempts col.operator { width: 11%; } .attempts col.outcome { width: 14%; }
.word { font-weight: bold; text-transform: uppercase; white-space: nowrap; font-size: 8pt; }
tr.verified .word { font-weight: normal; text-transform: none; font-size: 9pt; }
.attempt, .rows .zone { display: block; font-size: 7.5pt; }
tr.verified td.outcome { background: #dcefd8; color: #14501b; }
tr.mismatched td.outcome { background: #ffe7ad; color: #6b4200; }
tr.failed td.outcome, tr.unreadable td.outcome { background: #f8d3cf; color: #8c0f0f; }
tr.refused td.outcome, tr.repair td.outcome, tr.person td.outcome { background: #dcdce8; color: #2b2b48; }
tr.failing td { background: repeating-linear-gradient(135deg, #fff 0 3pt, #f8d3cf 3pt 4pt); }
tr.failing td.outcome { background: #8c0f0f; color: #fff; }
.broken { font-weight: bold; color: #8c0f0f; }
.hash, .note { font-size: 8pt; }
.end { break-inside: avoid; page-break-inside: avoid; }
.sign { margin-top: 28pt; border-collapse: separate; border-spacing: 14pt 0; }
.sign td { border-top: 0.8pt solid #000; padding-top: 2pt; width: 33%; font-size: 8pt; }
.hash { font-family: "DejaVu Sans Mono", Consolas, monospace; overflow-wrap: anywhere; }
)";

// Lines are read and their rows made in shares of this many, on every core.
constexpr int kLinesPerShare = 2048;
constexpr qint64 kNoTime = std::numeric_limits<qint64>::min();
constexpr qint64 kMsecsPerDay = 86400000;
constexpr qint64 kEpochJulianDay = 2440588; // 1970-01-01

// Appends text to html with its markup characters as entities, and every character beyond
// ASCII as a numeric one: the rows are ASCII throughout, so that a row's length in characters is
// its length in bytes. Control characters show as the replacement character.
void appendEscaped(QString &html, const QString &text)
{
    for (int i = 0; i < text.size(); ++i) {
        const ushort c = text[i].unicode();
        if (c == '&')
            html += QLatin1String("&amp;");
        else if (c == '<')
            html += QLatin1String("&lt;");
        else if (c == '>')
            html += QLatin1String("&gt;");
        else if (c == '"')
            html += QLatin1String("&quot;");
        else if (c >= 0x20 && c < 0x7f)
            html += QChar(c);
        else if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            html += QStringLiteral("&#x%1;").arg(QChar::surrogateToUcs4(c, text[++i].unicode()), 0,
                                                 16);
        else
            html += QStringLiteral("&#x%1;").arg(c < 0x20 || QChar::isSurrogate(c) ? 0xfffd : c, 0,
                                                 16);
    }
}

QString escaped(const QString &text)
{
    QString html;
    appendEscaped(html, text);
    return html;
}

QString str(const QJsonObject &line, const char *key)
{
    return line.value(QLatin1String(key)).toString();
}

QString orDash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : escaped(text);
}

qint64 floorDiv(qint64 value, qint64 by)
{
    return value / by - (value % by < 0 ? 1 : 0);
}

// A line's "time" in milliseconds since 1970 UTC, kNoTime when it has none.
qint64 lineTime(const JsonMembers &line)
{
    const qint64 time = Audit::lineTime(line.string(QLatin1String("time")));
    return time == Audit::kNoTime ? kNoTime : time;
}

// The computer's local time. Its offset from UTC is looked up once for each minute of the
// record: asking the system costs more than making a row.
class LocalClock
{
public:
    int offset(qint64 msecs)
    {
        const qint64 minute = floorDiv(msecs, 60000);
        auto it = m_offsets.find(minute);
        if (it == m_offsets.end())
            it = m_offsets.insert(
                minute,
                QDateTime::fromMSecsSinceEpoch(minute * 60000, Qt::LocalTime).offsetFromUtc());
        return *it;
    }

private:
    QHash<qint64, int> m_offsets;
};

// "2026-12-06 23:00:01" at offsetSecs from UTC.
QString clockText(qint64 msecs, int offsetSecs)
{
    const qint64 local = msecs + offsetSecs * 1000LL;
    const qint64 day = floorDiv(local, kMsecsPerDay);
    int year = 0, month = 0, dayOfMonth = 0;
    QDate::fromJulianDay(kEpochJulianDay + day).getDate(&year, &month, &dayOfMonth);
    if (year < 1 || year > 9999)
        return QLocale::c().toString(QDateTime::fromMSecsSinceEpoch(local, Qt::UTC),
                                     QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const int second = int((local - day * kMsecsPerDay) / 1000);
    char text[] = "0000-00-00 00:00:00";
    const auto put = [&text](int at, int value, int width) {
        for (int i = width - 1; i >= 0; --i, value /= 10)
            text[at + i] = char('0' + value % 10);
    };
    put(0, year, 4);
    put(5, month, 2);
    put(8, dayOfMonth, 2);
    put(11, second / 3600, 2);
    put(14, second / 60 % 60, 2);
    put(17, second % 60, 2);
    return QString::fromLatin1(text, 19);
}

// A profile as people read it: "°F, alarm 2 to 8, start delay 00:30, interval 00:15, ...".
QString profileText(const QJsonObject &profile)
{
    const QJsonObject alarm = profile.value(QStringLiteral("alarm")).toObject();
    const QString alarmText = alarm.value(QStringLiteral("enabled")).toBool()
        ? QStringLiteral("alarm %1 to %2")
              .arg(Profile::shortText(alarm.value(QStringLiteral("lower"))),
                   Profile::shortText(alarm.value(QStringLiteral("upper"))))
        : QStringLiteral("alarm off");
    return QStringLiteral("°%1, %2, start delay %3, interval %4, %5, %6 reports")
        .arg(str(profile, "scale"), alarmText, str(profile, "startDelay"), str(profile, "interval"),
             str(profile, "zone"), str(profile, "report").toUpper());
}

// What went wrong with a write: the fields that differ with both values, or the reason. The
// logger's clock is in the zone written to it, which the page names.
QString detail(const JsonMembers &line)
{
    QStringList parts;
    const QByteArray differences = line.raw(QLatin1String("differences"));
    for (const QJsonValue &difference :
         differences.isEmpty() ? QJsonArray() : QJsonDocument::fromJson(differences).array()) {
        const QJsonObject field = difference.toObject();
        QString text = QStringLiteral("%1: %2 written, %3 read back")
                           .arg(str(field, "field"),
                                Profile::shortText(field.value(QStringLiteral("written"))),
                                Profile::shortText(field.value(QStringLiteral("read"))));
        if (str(field, "field") == QLatin1String("clock")) {
            const QString zone = str(
                QJsonDocument::fromJson(line.raw(QLatin1String("configuration"))).object(), "zone");
            text += QStringLiteral(" (%1, the logger's zone)")
                        .arg(zone.isEmpty() ? QStringLiteral("time") : Profile::shortText(zone));
        }
        parts.append(text);
    }
    // Lines written before the values were recorded name the fields only.
    const QByteArray fields = line.raw(QLatin1String("fields"));
    if (parts.isEmpty() && !fields.isEmpty())
        for (const QJsonValue &field : QJsonDocument::fromJson(fields).array())
            parts.append(field.toString());
    if (parts.isEmpty())
        parts.append(line.string(QLatin1String("reason")));
    return parts.join(QLatin1String("; "));
}

QString lines(int from, int to)
{
    return from == to ? QStringLiteral("line %1").arg(from)
                      : QStringLiteral("lines %1 to %2").arg(from).arg(to);
}

QString factRow(const QString &name, const QString &html)
{
    return QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(name, html);
}

QString listed(QSet<QString> set)
{
    set.remove(QString());
    QStringList items = set.values();
    std::sort(items.begin(), items.end());
    return items.isEmpty() ? QStringLiteral("-") : escaped(items.join(QLatin1String(", ")));
}

// text inside a CSS string: quotes, backslashes, control characters and "<" (which could end
// the style element) escaped.
QString cssText(const QString &text)
{
    QString css;
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\') || c == QLatin1Char('<')
            || c.unicode() < 0x20)
            css += QStringLiteral("\\%1 ").arg(c.unicode(), 0, 16);
        else
            css += c;
    }
    return css;
}

// What became of one logger: its last attempt, and how many it had. Loggers are known by a key:
// "I" and the device identifier, or for one that never gave it, "U", its port, a line end and
// its USB serial number (empty when it has none), so that the identified ones come first, in
// their order.
struct Logger
{
    Session::Outcome outcome = Session::Failed;
    int attempts = 0; // lines that hold
    qint64 last = kNoTime;
    QString host;
    QString operatorName;
    QString serial; // its USB serial number, where its line gives one
    int failing = 0; // its lines that fail their checks, not counted above
};

// What a share of the lines came to: the rows of the lines shown (ASCII), and the sums the page
// begins with.
struct Share
{
    QByteArray rows;
    // For each row with a time: where its time ends in rows, and its offset from UTC.
    QVector<QPair<int, int>> times;
    QHash<QString, Logger> loggers;
    int attempts[Session::Refused + 1] = {};
    int unreadable = 0;
    int repairs = 0;
    QList<int> failing; // lines that fail their checks
    QSet<QString> hosts;
    QSet<QString> operators;
    QHash<QByteArray, int> profiles; // by the JSON text of "configuration"
    qint64 first = kNoTime;
    qint64 last = kNoTime;
};

// What every share reads, and no share changes.
struct Context
{
    explicit Context(const QByteArray &data)
        : lines(data)
    { }
    const Audit::Lines lines;
    qint64 since = kNoTime;
    qint64 until = kNoTime;
    QHash<int, const Audit::Verification::Repair *> carried; // lines cut short, by number
    const Audit::Verification *check = nullptr;
};

// A row's first cells, up to its time: "<tr class=...><td class="n">LINE</td><td>TIME". The
// time's end is noted, for its zone when that is not the page's.
void startRow(QString &rows, Share &share, QLatin1String kind, int number, const QString &time,
              int offset)
{
    rows += QLatin1String("<tr class=\"") % kind % QLatin1String("\"><td class=\"n\">")
        % QString::number(number) % QLatin1String("</td><td class=\"time\">");
    if (time.isEmpty()) {
        rows += QLatin1Char('-');
        return;
    }
    rows += time;
    share.times.append({rows.size(), offset});
}

// The next cell; text is escaped.
void cell(QString &rows, const QString &text = QString())
{
    rows += QLatin1String("</td><td>");
    if (text.isEmpty())
        rows += QLatin1Char('-');
    appendEscaped(rows, text);
}

void outcomeCell(QString &rows, const QString &word, const QString &note = QString())
{
    rows += QLatin1String("</td><td class=\"outcome\"><span class=\"word\">");
    appendEscaped(rows, word);
    rows += QLatin1String("</span>");
    if (!note.isEmpty())
        rows += QLatin1String("<span class=\"attempt\">") % note % QLatin1String("</span>");
}

void endRow(QString &rows, const QString &why)
{
    rows += QLatin1String("</td><td>");
    appendEscaped(rows, why);
    rows += QLatin1String("</td></tr>\n");
}

// A line that is not JSON: cut short or garbled, carried by a repair line or not yet.
void unreadableRow(QString &rows, Share &share, const Context &context, int i, int bytes)
{
    ++share.unreadable;
    const Audit::Verification::Repair *repair = context.carried.value(i + 1);
    const bool cut = repair ? repair->atEnd : context.lines.lastWithoutNewline(i);
    startRow(rows, share, QLatin1String("unreadable"), i + 1, QString(), 0);
    // What it held, where its bytes still name a device.
    const QString device = repair ? repair->device : Audit::deviceInFragment(context.lines.at(i));
    rows += QLatin1String("</td><td>");
    if (device.isEmpty()) {
        rows += QLatin1Char('-');
    } else {
        appendEscaped(rows, device);
        rows += QLatin1String("<span class=\"attempt\">read from the bytes left</span>");
    }
    cell(rows);
    cell(rows);
    outcomeCell(rows, QLatin1String(cut ? "cut short" : "unreadable"));
    const QString what = cut
        ? QStringLiteral("cut short by an interrupted write, %1 bytes").arg(bytes)
        : QStringLiteral("not valid JSON, %1 bytes").arg(bytes);
    endRow(rows,
           repair ? QStringLiteral("%1; line %2 carries its bytes into the record, unsigned")
                        .arg(what)
                        .arg(repair->repairLine)
                  : what
                   + QStringLiteral("; \"tempyra-cli audit repair\" carries it into the "
                                    "record"));
}

// Reads lines from to to (excluded) into share.
void readShare(const Context &context, LocalClock &clock, int from, int to, Share &share)
{
    QString rows;
    rows.reserve((to - from) * 200);
    JsonMembers line;
    for (int i = from; i < to; ++i) {
        const QByteArray text = context.lines.at(i);
        if (!line.read(text)) {
            unreadableRow(rows, share, context, i, text.size());
            continue;
        }
        const qint64 time = lineTime(line);
        if (time != kNoTime
            && ((context.since != kNoTime && time < context.since)
                || (context.until != kNoTime && time >= context.until)))
            continue;
        const int offset = time == kNoTime ? 0 : clock.offset(time);
        const QString timeText = time == kNoTime ? QString() : clockText(time, offset);
        if (time != kNoTime) {
            share.first = share.first == kNoTime ? time : qMin(share.first, time);
            share.last = qMax(share.last, time);
        }
        const QString operatorName = line.string(
            QLatin1String(line.contains(QLatin1String("operator")) ? "operator" : "user"));

        if (line.contains(QLatin1String("repair"))) {
            ++share.repairs;
            const QJsonObject repair
                = QJsonDocument::fromJson(line.raw(QLatin1String("repair"))).object();
            startRow(rows, share, QLatin1String("repair"), i + 1, timeText, offset);
            cell(rows);
            cell(rows);
            cell(rows, operatorName);
            outcomeCell(rows, QStringLiteral("repair"));
            endRow(
                rows,
                QStringLiteral("carries line %1, %2 bytes that cannot be read, into the record; "
                               "appended by %3 on %4")
                    .arg(repair.value(QLatin1String("line")).toInt())
                    .arg(repair.value(QLatin1String("bytes")).toInt())
                    .arg(line.string(QLatin1String("user")), line.string(QLatin1String("host"))));
            continue;
        }
        // A person's line: signed in, signed out, signed off. No attempt.
        const char *const people[][2]
            = {{"signIn", "signed in"}, {"signOut", "signed out"}, {"signOff", "signed off"}};
        const auto kind = std::find_if(std::begin(people), std::end(people), [&line](auto names) {
            return line.contains(QLatin1String(names[0]));
        });
        if (kind != std::end(people)) {
            const QJsonObject what
                = QJsonDocument::fromJson(line.raw(QLatin1String((*kind)[0]))).object();
            const bool failing = !context.check->faultsOf(i + 1).isEmpty();
            startRow(rows, share, QLatin1String(failing ? "failing" : "person"), i + 1, timeText,
                     offset);
            cell(rows);
            cell(rows);
            cell(rows, operatorName);
            outcomeCell(rows, QLatin1String(failing ? "fails check" : (*kind)[1]),
                        failing ? escaped(QLatin1String((*kind)[1])) : QString());
            QStringList why;
            if (what.contains(QLatin1String("meaning")))
                why.append(str(what, "meaning")
                           + (str(what, "reason").isEmpty()
                                  ? QString()
                                  : QStringLiteral(": ") + str(what, "reason")));
            if (!str(what, "covers").isEmpty())
                why.append(QStringLiteral("covers %1")
                               .arg(str(what, "covers").section(QLatin1Char(':'), 0, 0)
                                    + QLatin1Char(':')
                                    + str(what, "covers").section(QLatin1Char(':'), 1).left(16)));
            for (const Audit::Verification::Fault *fault : context.check->faultsOf(i + 1))
                why.append(QStringLiteral("this line ") + fault->problem);
            endRow(rows, why.join(QLatin1String("; ")));
            continue;
        }

        const QString device = line.string(QLatin1String("device"));
        const bool identified
            = !device.isEmpty() && line.raw(QLatin1String("identified")) != "false";
        const QString port = line.string(QLatin1String("port"));
        const QString serial = line.string(QLatin1String("serialNumber"));
        const QString outcomeText = line.string(QLatin1String("outcome"));
        const Session::Outcome outcome = Session::outcome(outcomeText);
        const QString loggerKey
            = identified ? QLatin1Char('I') + device : QStringLiteral("U%1\n%2").arg(port, serial);
        // A line that fails its checks shows what it says, marked, and counts for nothing.
        const QList<const Audit::Verification::Fault *> faults = context.check->faultsOf(i + 1);
        if (!faults.isEmpty()) {
            share.failing.append(i + 1);
            ++share.loggers[loggerKey].failing;
            QStringList problems;
            for (const Audit::Verification::Fault *fault : faults)
                problems.append(fault->problem);
            startRow(rows, share, QLatin1String("failing"), i + 1, timeText, offset);
            cell(rows, identified ? device : QString());
            cell(rows, port);
            cell(rows, operatorName);
            outcomeCell(rows, QStringLiteral("fails check"),
                        QStringLiteral("it says: %1").arg(escaped(outcomeText)));
            endRow(rows,
                   QStringLiteral("This line %1. What it says is not counted.")
                       .arg(problems.join(QLatin1String("; it "))));
            continue;
        }
        ++share.attempts[outcome];
        // The loggers share the texts of the set.
        const QString &station = *share.hosts.insert(line.string(QLatin1String("host")));
        const QString &person = *share.operators.insert(operatorName);
        if (outcome != Session::Refused) {
            // Counted by their text, read once each when the shares are added up.
            const QByteArray configuration = line.raw(QLatin1String("configuration"));
            const auto it = share.profiles.find(configuration);
            if (it == share.profiles.end())
                share.profiles.insert(QByteArray(configuration.constData(), configuration.size()),
                                      1);
            else
                ++*it;
        }
        Logger &logger = share.loggers[loggerKey];
        logger = {outcome, logger.attempts + 1, time, station, person, serial, logger.failing};

        startRow(rows, share, Session::name(outcome), i + 1, timeText, offset);
        rows += QLatin1String("</td><td>");
        if (identified) {
            appendEscaped(rows, device);
        } else {
            rows += QLatin1String("<span class=\"attempt\">not identified</span>");
            if (!serial.isEmpty()) {
                rows += QLatin1String("<span class=\"attempt\">USB serial ");
                appendEscaped(rows, serial);
                rows += QLatin1String("</span>");
            }
        }
        cell(rows, port);
        cell(rows, operatorName);
        const int attempt = line.integer(QLatin1String("attempt"), 1);
        outcomeCell(rows, outcomeText,
                    attempt > 1 ? QStringLiteral("attempt %1").arg(attempt) : QString());
        QString why = detail(line);
        if (line.contains(QLatin1String("late"))) {
            const QJsonObject late
                = QJsonDocument::fromJson(line.raw(QLatin1String("late"))).object();
            why += QStringLiteral("%1owed to the record, appended late from %2 by %3")
                       .arg(why.isEmpty() ? QString() : QStringLiteral("; "), str(late, "file"),
                            str(late, "user"));
        }
        endRow(rows, why);
    }
    share.rows = rows.toLatin1();
}

// The page as it goes out, in UTF-8; false once a write fails.
class Page
{
public:
    explicit Page(QIODevice &out)
        : m_out(out)
    { }
    Page &operator<<(const QString &text) { return *this << text.toUtf8(); }
    Page &operator<<(const QByteArray &bytes)
    {
        write(bytes.constData(), bytes.size());
        return *this;
    }
    void write(const char *bytes, qint64 size) { m_ok = m_ok && m_out.write(bytes, size) == size; }
    bool ok() const { return m_ok; }

private:
    QIODevice &m_out;
    bool m_ok = true;
};

QString countsText(const int (&counts)[Session::Refused + 1], int all, const char *what)
{
    QStringList texts;
    for (int outcome = Session::Verified; outcome <= Session::Refused; ++outcome)
        if (outcome != Session::Written || counts[outcome] > 0)
            texts.append(QStringLiteral("%1 %2")
                             .arg(counts[outcome])
                             .arg(Session::name(Session::Outcome(outcome))));
    return QStringLiteral("%1: %2").arg(counted(all, what), texts.join(QLatin1String(", ")));
}

QString loggerName(const QString &key)
{
    if (key.startsWith(QLatin1Char('I')))
        return escaped(key.mid(1));
    const int end = key.indexOf(QLatin1Char('\n'));
    const QString serial = key.mid(end + 1);
    return QStringLiteral("%1%2, not identified")
        .arg(orDash(key.mid(1, end - 1)),
             serial.isEmpty() ? QString()
                              : QStringLiteral(" (USB serial %1)").arg(escaped(serial)));
}

// The lines of the record read into shares, in its order, by every core; each keeps its own
// clock.
QVector<Share> readShares(const Context &context)
{
    QVector<Share> shares((context.lines.size() + kLinesPerShare - 1) / kLinesPerShare);
    std::atomic<int> next {0};
    const auto work = [&] {
        LocalClock clock;
        for (int share; (share = next++) < shares.size();)
            readShare(context, clock, share * kLinesPerShare,
                      qMin(context.lines.size(), (share + 1) * kLinesPerShare), shares[share]);
    };
    QThreadPool pool;
    for (int thread = 1; thread < pool.maxThreadCount(); ++thread)
        pool.start(work);
    work();
    pool.waitForDone();
    return shares;
}

// The sums of the shares.
struct Totals
{
    QHash<QString, Logger> loggers;
    int attempts[Session::Refused + 1] = {};
    int attemptCount = 0;
    int finals[Session::Refused + 1] = {}; // loggers by final outcome
    int unreadable = 0;
    int repairs = 0;
    QList<int> failing;
    QSet<QString> hosts;
    QSet<QString> operators;
    QMap<QString, int> profiles;
    qint64 first = kNoTime;
    qint64 last = kNoTime;
    QMap<int, int> offsets; // rows by offset from UTC
};

// Added up in the record's order: a logger's last share has its last attempt.
Totals sum(const QVector<Share> &shares)
{
    Totals totals;
    QHash<QByteArray, int> texts;
    for (const Share &share : shares) {
        for (auto it = share.loggers.cbegin(); it != share.loggers.cend(); ++it) {
            Logger &logger = totals.loggers[it.key()];
            const Logger before = logger;
            if (it->attempts > 0)
                logger = it.value();
            logger.attempts = before.attempts + it->attempts;
            logger.failing = before.failing + it->failing;
        }
        totals.failing += share.failing;
        for (int outcome = 0; outcome <= Session::Refused; ++outcome) {
            totals.attempts[outcome] += share.attempts[outcome];
            totals.attemptCount += share.attempts[outcome];
        }
        totals.unreadable += share.unreadable;
        totals.repairs += share.repairs;
        totals.hosts.unite(share.hosts);
        totals.operators.unite(share.operators);
        for (auto it = share.profiles.cbegin(); it != share.profiles.cend(); ++it)
            texts[it.key()] += it.value();
        if (share.first != kNoTime)
            totals.first = totals.first == kNoTime ? share.first : qMin(totals.first, share.first);
        totals.last = qMax(totals.last, share.last);
        for (const auto &time : share.times)
            ++totals.offsets[time.second];
    }
    // A logger that failed before it identified itself is known by its USB serial number,
    // where a line of it identified names the same one.
    QHash<QString, QString> bySerial;
    QStringList unidentified;
    for (auto it = totals.loggers.cbegin(); it != totals.loggers.cend(); ++it) {
        if (it.key().startsWith(QLatin1Char('I')) && !it->serial.isEmpty())
            bySerial.insert(it->serial, it.key());
        else if (it.key().startsWith(QLatin1Char('U')))
            unidentified.append(it.key());
    }
    for (const QString &key : qAsConst(unidentified)) {
        const QString known = bySerial.value(key.section(QLatin1Char('\n'), 1));
        if (key.endsWith(QLatin1Char('\n')) || known.isEmpty())
            continue;
        const Logger before = totals.loggers.take(key);
        Logger &logger = totals.loggers[known];
        if (before.attempts > 0 && before.last > logger.last) {
            logger.outcome = before.outcome;
            logger.last = before.last;
            logger.host = before.host;
            logger.operatorName = before.operatorName;
        }
        logger.attempts += before.attempts;
        logger.failing += before.failing;
    }
    for (const Logger &logger : qAsConst(totals.loggers))
        if (logger.attempts > 0)
            ++totals.finals[logger.outcome];
    for (auto it = texts.cbegin(); it != texts.cend(); ++it)
        totals.profiles[profileText(QJsonDocument::fromJson(it.key()).object())] += it.value();
    return totals;
}

// Lines by number as people read them: "line 5", "lines 1 to 3, 5, 7 to 9", or for many runs
// "36 lines from line 1 to line 54".
QString runsText(const QList<QPair<int, int>> &runs, int count)
{
    if (runs.isEmpty())
        return QString();
    if (runs.size() > 4)
        return QStringLiteral("%1 lines from line %2 to line %3")
            .arg(count)
            .arg(runs.first().first)
            .arg(runs.last().second);
    QStringList parts;
    for (const auto &run : runs)
        parts.append(run.first == run.second
                         ? QString::number(run.first)
                         : QStringLiteral("%1 to %2").arg(run.first).arg(run.second));
    return QLatin1String(count == 1 ? "line " : "lines ") + parts.join(QLatin1String(", "));
}

QList<QPair<int, int>> runsOf(const QList<int> &numbers)
{
    QList<QPair<int, int>> runs;
    for (int n : numbers) {
        if (runs.isEmpty() || runs.last().second + 1 != n)
            runs.append({n, n});
        runs.last().second = n;
    }
    return runs;
}

QString numbersText(const QList<int> &numbers)
{
    return runsText(runsOf(numbers), numbers.size());
}

// How many chain faults the page's head names; each row at fault is marked below it anyway.
constexpr int kFaultsNamed = 8;

QString chainHtml(const Audit::Verification &check)
{
    QString html;
    switch (check.result) {
    case Audit::Verification::Whole:
        html = QLatin1String(check.unchained > 0 ? "partly verified: " : "verified: ")
            + escaped(Report::chainVerdict(check));
        break;
    case Audit::Verification::Unchained:
        html = QStringLiteral("<span class=\"broken\">NOT VERIFIED:</span> ")
            + escaped(Report::chainVerdict(check));
        break;
    case Audit::Verification::Broken:
        html = QStringLiteral("<span class=\"broken\">BROKEN: %1</span>")
                   .arg(escaped(Report::chainVerdict(check)));
        for (const QString &text : Report::chainFaultTexts(check, kFaultsNamed))
            html += QStringLiteral("<br>") + escaped(text);
        break;
    }
    for (const Audit::Verification::Repair &repair : check.repairs)
        html += QStringLiteral("<br>") + escaped(Report::repairText(repair));
    for (const Audit::Verification::Late &late : check.late)
        html += QStringLiteral("<br>") + escaped(Report::lateText(late));
    for (const QString &text : Report::formTexts(check))
        html += QStringLiteral("<br>") + escaped(text);
    return html;
}

// Signatures fail the record only when checked against trusted keys; unchecked, the page says
// so as plainly.
QString signaturesHtml(const Audit::Verification &check)
{
    const bool hold = check.signaturesHold();
    QString html = QLatin1String(!check.trustChecked ? "<strong>NOT CHECKED:</strong> "
                                     : hold          ? "verified: "
                                                     : "<span class=\"broken\">FAILED:</span> ");
    QStringList texts;
    for (const QString &text : Report::signatureTexts(check))
        texts.append(escaped(text));
    return html + texts.join(QLatin1String("<br>"));
}

// The expected list's coverage, every logger not verified named.
QString coverageHtml(const QStringList &expected, const QHash<QString, Logger> &loggers)
{
    QStringList missing;
    for (const QString &identifier : expected) {
        const auto it = loggers.constFind(QLatin1Char('I') + identifier);
        if (it == loggers.cend())
            missing.append(escaped(identifier) + QStringLiteral(" (no attempt)"));
        else if (it->attempts == 0)
            missing.append(escaped(identifier)
                           + QStringLiteral(" (not proven: its lines fail their checks)"));
        else if (it->outcome != Session::Verified)
            missing.append(
                QStringLiteral("%1 (%2)").arg(escaped(identifier), Session::name(it->outcome)));
    }
    return QStringLiteral("%1 expected, %2 verified, %3 not verified")
               .arg(expected.size())
               .arg(expected.size() - missing.size())
               .arg(missing.size())
        + (missing.isEmpty() ? QString()
                             : QStringLiteral(": <span class=\"broken\">%1</span>")
                                   .arg(missing.join(QLatin1String(", "))));
}

} // namespace

namespace Report {

std::optional<QDateTime> parseTime(const QString &text, bool endOfDay)
{
    // QDate takes the date off the front of a longer text too.
    const QDate date = QDate::fromString(text.trimmed(), Qt::ISODate);
    if (date.isValid() && text.trimmed().size() == 10)
        return QDateTime(endOfDay ? date.addDays(1) : date, QTime(0, 0));
    const QDateTime time = QDateTime::fromString(
        text.trimmed().replace(QLatin1Char(' '), QLatin1Char('T')), Qt::ISODate);
    if (!time.isValid())
        return std::nullopt;
    return time;
}

QString chainVerdict(const Audit::Verification &check)
{
    switch (check.result) {
    case Audit::Verification::Whole:
        if (check.lines == 0)
            return QStringLiteral("it holds no line");
        return check.unchained == 0
            ? QStringLiteral("the chain of its %1 lines is whole").arg(check.lines)
            : QStringLiteral("the chain is whole from line %1 to line %2; lines 1 to %3 were "
                             "written before the record was chained and are not covered")
                  .arg(check.unchained + 1)
                  .arg(check.lines)
                  .arg(check.unchained);
    case Audit::Verification::Unchained:
        return QStringLiteral("not chained: its %1 lines were written before lines were chained, "
                              "so it cannot be verified")
            .arg(check.lines);
    case Audit::Verification::Broken:
        break;
    }
    QList<int> lines;
    for (const Audit::Verification::Fault &fault : check.faults)
        if (fault.kind <= Audit::Verification::Fault::Seq
            && (lines.isEmpty() || lines.last() != fault.line))
            lines.append(fault.line);
    return QStringLiteral("the chain of its %1 lines is broken: %2 at fault")
        .arg(check.lines)
        .arg(numbersText(lines));
}

QStringList chainFaultTexts(const Audit::Verification &check, int most)
{
    QStringList texts;
    int count = 0;
    for (const Audit::Verification::Fault &fault : check.faults) {
        if (fault.kind > Audit::Verification::Fault::Seq)
            continue;
        if (most < 0 || count < most)
            texts.append(QStringLiteral("line %1 %2").arg(fault.line).arg(fault.problem));
        ++count;
    }
    if (most >= 0 && count > most)
        texts.append(QStringLiteral("and %1 more lines at fault in the chain").arg(count - most));
    return texts;
}

} // namespace Report

namespace {

// A stamp's time in UTC, as the record's texts give it.
QString stampTime(const QJsonObject &stamp)
{
    const QDateTime time
        = QDateTime::fromString(stamp.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    return QLocale::c().toString(time.toUTC(), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

} // namespace

namespace Report {

QString repairText(const Audit::Verification::Repair &repair)
{
    const QJsonObject &by = repair.by;
    return QStringLiteral("line %1 was %2 (%3 bytes); line %4 carries it, appended on %5 UTC by "
                          "%6 (operator %7) on %8; its bytes are unsigned%9")
        .arg(repair.cutLine)
        .arg(QLatin1String(repair.atEnd ? "cut short" : "garbled"))
        .arg(repair.bytes)
        .arg(repair.repairLine)
        .arg(stampTime(by), by.value(QStringLiteral("user")).toString(),
             by.value(QStringLiteral("operator")).toString(),
             by.value(QStringLiteral("host")).toString(),
             repair.device.isEmpty()
                 ? QString()
                 : QStringLiteral(" and name the device %1").arg(repair.device));
}

QString lateText(const Audit::Verification::Late &late)
{
    const QJsonObject &by = late.by;
    return QStringLiteral("%1 owed to the record when written, appended late on %2 UTC by %3 "
                          "(operator %4) on %5 from %6")
        .arg(lines(late.first, late.last)
                 + QLatin1String(late.first == late.last ? " was" : " were"),
             stampTime(by), by.value(QStringLiteral("user")).toString(),
             by.value(QStringLiteral("operator")).toString(),
             by.value(QStringLiteral("host")).toString(),
             by.value(QStringLiteral("file")).toString());
}

QStringList formTexts(const Audit::Verification &check)
{
    QStringList texts;
    if (!check.blank.isEmpty())
        texts.append(QStringLiteral("%1 %2 blank, passed over")
                         .arg(numbersText(check.blank),
                              QLatin1String(check.blank.size() == 1 ? "is" : "are")));
    if (check.crlf > 0)
        texts.append(QStringLiteral("%1 end in CR LF (Windows line ends, from a copy): checked "
                                    "without the CR")
                         .arg(check.crlf == 1 ? QStringLiteral("1 line")
                                              : QStringLiteral("%1 lines").arg(check.crlf)));
    return texts;
}

QStringList peopleTexts(const Audit::Verification &check)
{
    const auto utc = [](qint64 time, const char *format) {
        return QLocale::c().toString(QDateTime::fromMSecsSinceEpoch(time, Qt::UTC),
                                     QLatin1String(format));
    };
    QStringList texts;
    for (const Audit::Verification::Fault &fault : check.faults)
        if (fault.kind == Audit::Verification::Fault::People)
            texts.append(QStringLiteral("line %1 %2").arg(fault.line).arg(fault.problem));
    // A screenful of runs: every one not signed out, and the last ones that were; --json has
    // them all.
    constexpr int kRunsNamed = 12;
    const int closed
        = int(std::count_if(check.runs.cbegin(), check.runs.cend(),
                            [](const Audit::Verification::Run &run) { return run.signOut > 0; }));
    if (closed > kRunsNamed)
        texts.append(QStringLiteral("%1 earlier runs signed in and out (--json lists them)")
                         .arg(closed - kRunsNamed));
    int skip = closed - kRunsNamed;
    for (const Audit::Verification::Run &run : check.runs) {
        if (run.signOut > 0 && skip-- > 0)
            continue;
        const QString in = utc(run.in, "yyyy-MM-dd hh:mm");
        const QString out = !run.signOut ? QString()
            : utc(run.out, "yyyy-MM-dd") == utc(run.in, "yyyy-MM-dd")
            ? utc(run.out, "hh:mm")
            : utc(run.out, "yyyy-MM-dd hh:mm");
        texts.append(QStringLiteral("%1 by %2 (operator%3), signed in %4%5")
                         .arg(lines(run.signIn, run.last), run.name,
                              run.proven ? QString()
                                         : QStringLiteral(", named by the line: give their key "
                                                          "with --trust to prove it"),
                              in,
                              run.signOut ? QStringLiteral(", signed out %1 UTC").arg(out)
                                          : QStringLiteral(" UTC, not signed out: the run ended "
                                                           "without it (the program killed, or "
                                                           "its computer gone down)")));
    }
    if (!check.typedOperators.isEmpty())
        texts.append(QStringLiteral("operators named as typed, with no key to prove it: %1")
                         .arg(check.typedOperators.join(QLatin1String(", "))));
    for (const Audit::Verification::SignOff &off : check.signOffs) {
        texts.append(
            QStringLiteral("line %1: %2 by %3%4 on %5 UTC%6, %7%8")
                .arg(off.line)
                .arg(
                    off.meaning, off.name,
                    off.proven ? QString() : QStringLiteral(" (named by the line, not proven)"),
                    utc(off.time, "yyyy-MM-dd hh:mm:ss"),
                    off.zone.isEmpty() || off.zone == QLatin1String("UTC")
                        ? QString()
                        : QStringLiteral(" (%1 %2 on its computer)")
                              .arg(utc(off.time + Audit::zoneOffset(off.zone) * 1000LL, "hh:mm:ss"),
                                   off.zone),
                    off.coversLine > 0 ? QStringLiteral("covering lines 1 to %1 (head %2:%3)")
                                             .arg(off.coversLine)
                                             .arg(off.covers.seq)
                                             .arg(QLatin1String(off.covers.hash.left(16)))
                                       : QStringLiteral("covering no line of this record"),
                    off.reason.isEmpty() ? QString() : QStringLiteral(": \"%1\"").arg(off.reason))
            + QLatin1String(check.faultIndex.contains(off.line) ? "; it does not hold" : ""));
    }
    if (!check.signOffs.isEmpty() || !check.runs.isEmpty()) {
        // The lines after the last line a sign-off covers, but for the sign-offs that hold.
        QSet<int> signOffs;
        for (const Audit::Verification::SignOff &off : check.signOffs)
            if (!check.faultIndex.contains(off.line))
                signOffs.insert(off.line);
        QList<int> open;
        for (int line = check.signedOffThrough + 1; line <= check.lines + check.blank.size();
             ++line)
            if (!signOffs.contains(line) && !check.blank.contains(line))
                open.append(line);
        texts.append(
            open.isEmpty() ? QStringLiteral("every line is signed off")
                : check.signedOffThrough == 0
                ? QStringLiteral("no line is signed off")
                : QStringLiteral("%1 %2 not signed off")
                      .arg(numbersText(open), QLatin1String(open.size() == 1 ? "is" : "are")));
    }
    return texts;
}

QStringList signatureTexts(const Audit::Verification &check)
{
    using Fault = Audit::Verification::Fault;
    QStringList named;
    QString unsignedLines;
    for (const Audit::Verification::Signer &signer : check.signers) {
        const QString where = runsText(signer.runs, signer.count);
        if (signer.signer.isEmpty())
            unsignedLines = where;
        else
            named.append(QStringLiteral("%1 by %2").arg(where, QLatin1String(signer.signer)));
    }
    QStringList carried;
    for (const Audit::Verification::Repair &repair : check.repairs)
        carried.append(QStringLiteral("line %1 is unsigned bytes, carried by line %2")
                           .arg(repair.cutLine)
                           .arg(repair.repairLine));
    if (!check.trustChecked) {
        QString text = QStringLiteral("no signature was checked against a trusted key (give the "
                                      "station's public key with --trust)");
        if (!named.isEmpty())
            text += QStringLiteral("; signers named: ") + named.join(QLatin1String(", "));
        if (!unsignedLines.isEmpty())
            text += QStringLiteral("; unsigned: ") + unsignedLines;
        return {text};
    }
    if (check.lines == 0)
        return {QStringLiteral("no line to vouch for: the record holds none")};
    QStringList texts;
    QList<int> mismatched;
    QList<int> unsignedFaults;
    QMap<QString, QList<int>> untrusted; // by the problem, which names the key
    for (const Fault &fault : check.faults) {
        if (fault.kind == Fault::Signature)
            mismatched.append(fault.line);
        else if (fault.kind == Fault::Unsigned)
            unsignedFaults.append(fault.line);
        else if (fault.kind == Fault::Untrusted || fault.kind == Fault::Role)
            untrusted[fault.problem].append(fault.line);
    }
    if (!mismatched.isEmpty())
        texts.append(mismatched.size() == 1
                         ? QStringLiteral("line %1 does not match its signature: it was changed "
                                          "after it was signed")
                               .arg(mismatched.first())
                         : QStringLiteral("%1 do not match their signatures: they were changed "
                                          "after they were signed")
                               .arg(numbersText(mismatched)));
    for (auto it = untrusted.cbegin(); it != untrusted.cend(); ++it)
        texts.append(QStringLiteral("%1 %2").arg(
            numbersText(it.value()),
            QString(it.key()).replace(
                QLatin1String("is signed"),
                QLatin1String(it->size() == 1 ? "is signed" : "are signed"))));
    if (!unsignedFaults.isEmpty())
        texts.append(QStringLiteral("%1 %2 not signed")
                         .arg(numbersText(unsignedFaults),
                              QLatin1String(unsignedFaults.size() == 1 ? "is" : "are")));
    texts += carried;
    if (!named.isEmpty())
        texts.append((check.signaturesHold() && check.faults.isEmpty()
                          ? QLatin1String(check.repairs.isEmpty()
                                              ? "every line is signed by a trusted key: "
                                              : "every line that can be read is signed by a "
                                                "trusted key: ")
                          : QLatin1String("signed by a trusted key and holding every check: "))
                     + named.join(QLatin1String(", ")));
    else
        texts.append(QStringLiteral("no line is signed by a trusted key and holds every check"));
    return texts;
}

bool write(QIODevice &out, const QByteArray &data, const Audit::Verification &check,
           const QString &source, const Options &options, const QDateTime &now)
{
    const Period &period = options.period;
    Context context(data);
    if (period.since.isValid())
        context.since = period.since.toMSecsSinceEpoch();
    if (period.until.isValid())
        context.until = period.until.toMSecsSinceEpoch();
    context.check = &check;
    for (const Audit::Verification::Repair &repair : check.repairs)
        context.carried.insert(repair.cutLine, &repair);
    const QVector<Share> shares = readShares(context);
    const Totals totals = sum(shares);

    // The zone of the time columns: the computer's offset from UTC for most rows; a time at
    // another offset (across a change to or from summer time) names its own.
    const int zone = totals.offsets.isEmpty()
        ? now.offsetFromUtc()
        : std::max_element(totals.offsets.cbegin(), totals.offsets.cend()).key();
    LocalClock clock;
    const auto timeHtml = [&clock, zone](qint64 time) {
        const int offset = clock.offset(time);
        return clockText(time, offset)
            + (offset == zone ? QString()
                              : QStringLiteral(" <span class=\"zone\">%1</span>")
                                    .arg(Audit::zoneText(offset)));
    };

    Page page(out);
    const QString head = check.head.seq > 0 ? check.head.text()
                                            : QStringLiteral("none (its last line is not chained)");
    // The sign-offs go beside the head in every page's footer, the last ones first.
    QStringList footer;
    for (auto it = check.signOffs.crbegin(); it != check.signOffs.crend() && footer.size() < 2;
         ++it)
        if (it->coversLine > 0 && !check.faultIndex.contains(it->line))
            footer.append(QStringLiteral("%1 by %2, %3 UTC, lines 1 to %4")
                              .arg(it->meaning, it->name, clockText(it->time, 0).left(16))
                              .arg(it->coversLine));
    page << QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
                           "<title>Logger configuration writes: %1</title>\n<style>%2"
                           "@page { @top-left { content: \"%3, head %4\"; font: 7pt "
                           "\"DejaVu Sans Mono\", monospace; } @bottom-left { content: \"%5\"; "
                           "font: 7pt sans-serif; } }\n</style></head>\n<body>\n")
                .arg(escaped(source), QLatin1String(kStyle), cssText(QFileInfo(source).fileName()),
                     cssText(head),
                     cssText(footer.isEmpty() ? QStringLiteral("not signed off")
                                              : QStringLiteral("signed off: ")
                                     + footer.join(QLatin1String("; "))));
    page << QStringLiteral("<h1>Logger configuration writes</h1>\n<table class=\"facts\">\n");
    page << factRow(QStringLiteral("Record"), escaped(source));
    page << factRow(QStringLiteral("Head"),
                    QStringLiteral("<span class=\"hash\">%1</span>").arg(escaped(head))
                        + QLatin1String(check.head.seq > 0
                                            ? "<br><span class=\"note\">its last line; given "
                                              "to \"tempyra-cli audit verify --head\", it shows "
                                              "later whether the record still holds that "
                                              "line</span>"
                                            : ""));
    const qint64 from = period.since.isValid() ? context.since : totals.first;
    const qint64 to = period.until.isValid() ? context.until : totals.last;
    page << factRow(QStringLiteral("Period"),
                    QStringLiteral("%1 to %2 (%3)")
                        .arg(from != kNoTime ? timeHtml(from) : QStringLiteral("the start"),
                             to != kNoTime ? timeHtml(to) : QStringLiteral("the end"),
                             Audit::zoneText(zone)));
    page << factRow(QStringLiteral("Audit chain"), chainHtml(check));
    page << factRow(QStringLiteral("Signatures"), signaturesHtml(check));
    const QStringList people = Report::peopleTexts(check);
    if (!people.isEmpty()) {
        QStringList html;
        for (const QString &text : people)
            html.append(escaped(text));
        page << factRow(QStringLiteral("People"), html.join(QLatin1String("<br>")));
    }
    const int loggerCount
        = int(std::count_if(totals.loggers.cbegin(), totals.loggers.cend(),
                            [](const Logger &logger) { return logger.attempts > 0; }));
    page << factRow(QStringLiteral("Loggers"),
                    countsText(totals.finals, loggerCount, "logger")
                        + QStringLiteral(" (the outcome of each one's last attempt)"));
    if (!totals.failing.isEmpty())
        page << factRow(QStringLiteral("Lines that fail"),
                        QStringLiteral("<span class=\"broken\">%1 %2: %3.</span> "
                                       "Each is marked FAILS CHECK below; what it says is counted "
                                       "nowhere on this page.")
                            .arg(counted(totals.failing.size(), "line"),
                                 QLatin1String(totals.failing.size() == 1 ? "fails its checks"
                                                                          : "fail their checks"),
                                 escaped(numbersText(totals.failing))));
    QString attempts = countsText(totals.attempts, totals.attemptCount, "attempt");
    if (totals.unreadable > 0)
        attempts += QStringLiteral("<br><span class=\"broken\">%1 not readable</span>")
                        .arg(counted(totals.unreadable, "line"));
    if (totals.repairs > 0)
        attempts += QStringLiteral("<br>") + counted(totals.repairs, "repair line");
    page << factRow(QStringLiteral("Attempts"), attempts);
    if (!options.expected.isEmpty())
        page << factRow(QStringLiteral("Expected list"),
                        coverageHtml(options.expected, totals.loggers));
    page << factRow(QStringLiteral("Stations"), listed(totals.hosts));
    // A name is proven where a run signed in with the operator's key holds; else it is typed.
    QSet<QString> signedIn;
    for (const Audit::Verification::Run &run : check.runs)
        if (run.proven)
            signedIn.insert(run.name);
    QStringList operators;
    for (const QString &name : totals.operators)
        if (!name.isEmpty())
            operators.append(escaped(name)
                             + QLatin1String(signedIn.contains(name) ? " (signed in with their key)"
                                                                     : " (typed, not proven)"));
    operators.sort();
    page << factRow(QStringLiteral("Operators"),
                    operators.isEmpty() ? QStringLiteral("-")
                                        : operators.join(QLatin1String(", ")));
    QStringList profiles;
    for (auto it = totals.profiles.cbegin(); it != totals.profiles.cend(); ++it)
        profiles.append(escaped(it.key())
                        + QStringLiteral(" (%1)").arg(counted(it.value(), "attempt")));
    page << factRow(QStringLiteral("Profiles written"),
                    profiles.isEmpty() ? QStringLiteral("-")
                                       : profiles.join(QLatin1String("<br>")));
    page << QStringLiteral("</table>\n");

    // The loggers by identifier, then those without one by port.
    QStringList keys = totals.loggers.keys();
    std::sort(keys.begin(), keys.end());
    page << QStringLiteral(
                "<h2>Loggers: the outcome of each one's last attempt</h2>\n"
                "<table class=\"rows loggers\"><colgroup><col class=\"logger\"><col "
                "class=\"outcome\"><col class=\"n\"><col class=\"time\"><col class=\"host\"><col>"
                "</colgroup>\n<thead><tr><th>Logger</th><th>Final outcome</th><th "
                "class=\"n\">Attempts</th><th>Last attempt (%1)</th><th>Station</th>"
                "<th>Operator</th></tr></thead>\n<tbody>\n")
                .arg(Audit::zoneText(zone));
    const QSet<QString> expected(options.expected.cbegin(), options.expected.cend());
    for (const QString &key : qAsConst(keys)) {
        const Logger &logger = totals.loggers[key];
        // A logger whose lines all fail their checks is named, its outcome not proven.
        const bool proven = logger.attempts > 0;
        const QString failing = logger.failing == 0
            ? QString()
            : QStringLiteral("<span class=\"attempt\">and %1 that %2 %3 checks</span>")
                  .arg(counted(logger.failing, "line"),
                       QLatin1String(logger.failing == 1 ? "fails" : "fail"),
                       QLatin1String(logger.failing == 1 ? "its" : "their"));
        page << QStringLiteral(
                    "<tr class=\"%1\"><td>%2%3</td><td class=\"outcome\"><span class=\"word\">%4"
                    "</span>%5</td><td class=\"n\">%6</td><td class=\"time\">%7</td><td>%8</td>"
                    "<td>%9</td></tr>\n")
                    .arg(proven ? Session::name(logger.outcome) : QLatin1String("failing"),
                         loggerName(key),
                         !expected.isEmpty() && key.startsWith(QLatin1Char('I'))
                                 && !expected.contains(key.mid(1))
                             ? QStringLiteral("<span class=\"attempt\">not on the list</span>")
                             : QString(),
                         proven ? Session::name(logger.outcome) : QLatin1String("not proven"),
                         failing)
                    .arg(logger.attempts)
                    .arg(logger.last != kNoTime ? timeHtml(logger.last) : QStringLiteral("-"),
                         orDash(logger.host), orDash(logger.operatorName));
    }
    page << QStringLiteral("</tbody></table>\n");

    page << QStringLiteral(
                "<h2>Attempts: every line of the record in the period, and every line that "
                "cannot be read</h2>\n"
                "<table class=\"rows attempts\"><colgroup><col class=\"n\"><col class=\"time\">"
                "<col class=\"logger\"><col class=\"port\"><col class=\"operator\"><col "
                "class=\"outcome\"><col></colgroup>\n<thead><tr><th class=\"n\">Line</th>"
                "<th>Time (%1)</th><th>Logger</th><th>Port</th><th>Operator</th><th>Outcome</th>"
                "<th>Fields that differed, or why</th></tr></thead>\n<tbody>\n")
                .arg(Audit::zoneText(zone));
    for (const Share &share : shares) {
        int written = 0;
        for (const auto &time : share.times) {
            if (time.second == zone)
                continue;
            page.write(share.rows.constData() + written, time.first - written);
            page << QStringLiteral(" <span class=\"zone\">%1</span>")
                        .arg(Audit::zoneText(time.second));
            written = time.first;
        }
        page.write(share.rows.constData() + written, share.rows.size() - written);
    }
    // Room for the person who checks the page to sign it.
    page << QStringLiteral(
                "</tbody></table>\n<div class=\"end\"><table class=\"sign\"><tr><td>"
                "Checked by</td><td>Date</td><td>Signature</td></tr></table>\n"
                "<p class=\"note\">Made by %1 %2 on %3 (%4).</p></div>\n</body></html>\n")
                .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion(),
                     clockText(now.toMSecsSinceEpoch(), now.offsetFromUtc()),
                     Audit::zoneText(now.offsetFromUtc()));
    return page.ok();
}

std::optional<Audit::Verification> check(const QString &path, const Options &options,
                                         QByteArray *data, QString *error)
{
    std::optional<Trust::Keys> trusted;
    if (!options.trust.isEmpty() && !(trusted = Trust::read(options.trust, error)))
        return std::nullopt;
    return Audit::verifyFile(path, {trusted ? &*trusted : nullptr, {}}, error, data);
}

} // namespace Report
