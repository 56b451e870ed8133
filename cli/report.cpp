#include "report.h"

#include "profile.h"
#include "session.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QMap>
#include <QTimeZone>

namespace {

// Printed on A4 and Letter alike: no page size is forced, widths are shares of the page, the
// table's head repeats on every page and no row is split. The outcome is a word, in capitals
// and bold unless verified, so that the page reads in black and white; colour only adds to it.
const char kStyle[] = R"(
@page { margin: 14mm 12mm;
        @bottom-right { content: "page " counter(page) " of " counter(pages); font: 8pt sans-serif; } }
* { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
body { font: 9pt/1.35 "DejaVu Sans", "Segoe UI", Arial, sans-serif; color: #000;
       margin: 0 auto; max-width: 60em; }
h1 { font-size: 14pt; margin: 0 0 4pt; }
table { width: 100%; border-collapse: collapse; }
.facts { margin-bottom: 10pt; }
.facts th { text-align: left; width: 18%; vertical-align: top; padding: 1pt 6pt 1pt 0; }
.facts td { padding: 1pt 0; }
.writes { table-layout: fixed; }
.writes thead { display: table-header-group; }
.writes tr { break-inside: avoid; page-break-inside: avoid; }
.writes th { text-align: left; border-bottom: 1.2pt solid #000; padding: 2pt 4pt; }
.writes td { border-bottom: 0.5pt solid #888; padding: 2pt 4pt; vertical-align: top;
             overflow-wrap: anywhere; }
.writes col.time { width: 22%; } .writes col.device { width: 13%; }
.writes col.port { width: 9%; } .writes col.operator { width: 12%; }
.writes col.outcome { width: 12%; }
.writes td:first-child { white-space: nowrap; }
.word { font-weight: bold; text-transform: uppercase; }
tr.verified .word { font-weight: normal; text-transform: none; }
.attempt { display: block; font-size: 8pt; }
tr.verified td.outcome { background: #dcefd8; color: #14501b; }
tr.mismatched td.outcome { background: #ffe7ad; color: #6b4200; }
tr.failed td.outcome { background: #f8d3cf; color: #8c0f0f; }
tr.refused td.outcome { background: #dcdce8; color: #2b2b48; }
.broken { font-weight: bold; color: #8c0f0f; }
.hash, .note { font-size: 8pt; }
.sign { margin-top: 28pt; border-collapse: separate; border-spacing: 14pt 0;
        break-inside: avoid; page-break-inside: avoid; }
.sign td { border-top: 0.8pt solid #000; padding-top: 2pt; width: 33%; font-size: 8pt; }
.hash { font-family: "DejaVu Sans Mono", Consolas, monospace; overflow-wrap: anywhere; }
)";

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString str(const QJsonObject &line, const char *key)
{
    return line.value(QLatin1String(key)).toString();
}

QString timeText(const QDateTime &time)
{
    return time.isValid()
        ? QLocale::c().toString(time.toLocalTime(), QStringLiteral("yyyy-MM-dd hh:mm:ss"))
        : QStringLiteral("-");
}

QDateTime lineTime(const QJsonObject &line)
{
    return QDateTime::fromString(str(line, "time"), Qt::ISODateWithMs);
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

// What went wrong with a write: the fields that differ with both values, or the reason.
QString detail(const QJsonObject &line)
{
    QStringList parts;
    for (const QJsonValue &difference : line.value(QStringLiteral("differences")).toArray()) {
        const QJsonObject field = difference.toObject();
        parts.append(QStringLiteral("%1: %2 written, %3 read back")
                         .arg(str(field, "field"),
                              Profile::shortText(field.value(QStringLiteral("written"))),
                              Profile::shortText(field.value(QStringLiteral("read")))));
    }
    // Lines written before the values were recorded name the fields only.
    if (parts.isEmpty())
        for (const QJsonValue &field : line.value(QStringLiteral("fields")).toArray())
            parts.append(field.toString());
    if (parts.isEmpty())
        parts.append(str(line, "reason"));
    return parts.join(QLatin1String("; "));
}

QString chainText(const Audit::Verification &check)
{
    switch (check.result) {
    case Audit::Verification::Whole:
        return check.unchained > 0
            ? QStringLiteral("whole from line %1 on; lines 1 to %2 were written before the "
                             "record was chained")
                  .arg(check.unchained + 1)
                  .arg(check.unchained)
            : QStringLiteral("verified: the chain of all %1 lines is whole").arg(check.lines);
    case Audit::Verification::Unchained:
        return QStringLiteral("unchained: the record was written before its lines were chained, "
                              "and cannot be verified");
    case Audit::Verification::Broken:
        break;
    }
    return QStringLiteral("<span class=\"broken\">BROKEN: line %1 %2</span>")
        .arg(check.line)
        .arg(escaped(check.problem));
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

QString listed(QStringList items)
{
    items.removeAll(QString());
    items.removeDuplicates();
    return items.isEmpty() ? QStringLiteral("-") : escaped(items.join(QLatin1String(", ")));
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
    return QStringLiteral("line %1 %2").arg(check.line).arg(check.problem);
}

QString repairText(const Audit::Verification::Repair &repair)
{
    const QJsonObject &by = repair.by;
    const QDateTime time
        = QDateTime::fromString(by.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    return QStringLiteral("line %1 was cut short (%2 bytes); line %3 carries it, appended on %4 "
                          "UTC by %5 (operator %6) on %7")
        .arg(repair.cutLine)
        .arg(repair.bytes)
        .arg(repair.repairLine)
        .arg(QLocale::c().toString(time.toUTC(), QStringLiteral("yyyy-MM-dd hh:mm:ss")),
             by.value(QStringLiteral("user")).toString(),
             by.value(QStringLiteral("operator")).toString(),
             by.value(QStringLiteral("host")).toString());
}

QStringList signatureTexts(const Audit::Verification &check)
{
    QStringList texts;
    QStringList named;
    QStringList untrusted;
    QStringList unsignedRuns;
    for (const Audit::Verification::Signers &run : check.signers) {
        const QString where = lines(run.first, run.last);
        if (run.signer.isEmpty())
            unsignedRuns.append(where);
        else if (check.trustChecked && !run.trusted)
            untrusted.append(QStringLiteral("%1 by %2").arg(where, QLatin1String(run.signer)));
        else
            named.append(QStringLiteral("%1 by %2").arg(where, QLatin1String(run.signer)));
    }
    if (!check.trustChecked) {
        QString text = QStringLiteral("no signature was checked against a trusted key (give the "
                                      "station's public key with --trust)");
        if (!named.isEmpty())
            text += QStringLiteral("; signers named: ") + named.join(QLatin1String(", "));
        if (!unsignedRuns.isEmpty())
            text += QStringLiteral("; unsigned: ") + unsignedRuns.join(QLatin1String(", "));
        return {text};
    }
    if (check.badSignatures > 0)
        texts.append(
            QStringLiteral("line %1 does not match its signature: it was changed after "
                           "it was signed%2")
                .arg(check.badSignature)
                .arg(
                    check.badSignatures > 1
                        ? QStringLiteral(" (%1 lines in all do not match)").arg(check.badSignatures)
                        : QString()));
    if (!untrusted.isEmpty())
        texts.append(QStringLiteral("signed by a key not trusted: ")
                     + untrusted.join(QLatin1String(", ")));
    if (!unsignedRuns.isEmpty())
        texts.append(QStringLiteral("unsigned: ") + unsignedRuns.join(QLatin1String(", ")));
    if (texts.isEmpty() && !named.isEmpty())
        texts.append(QStringLiteral("every line is signed by a trusted key: ")
                     + named.join(QLatin1String(", ")));
    return texts;
}

QString html(const QByteArray &data, const Audit::Verification &check, const QString &source,
             const Options &options, const QDateTime &now)
{
    const Period &period = options.period;
    QList<QJsonObject> lines;
    for (const QByteArray &text : data.split('\n'))
        if (const QJsonDocument document = QJsonDocument::fromJson(text); document.isObject())
            lines.append(document.object());
    QList<QJsonObject> shown;
    for (const QJsonObject &line : lines) {
        const QDateTime time = lineTime(line);
        if ((period.since.isValid() && !(time.isValid() && time >= period.since))
            || (period.until.isValid() && !(time.isValid() && time < period.until)))
            continue;
        shown.append(line);
    }

    QStringList hosts;
    QStringList operators;
    QMap<QString, int> profiles;
    int counts[Session::Refused + 1] = {};
    QDateTime first;
    QDateTime last;
    QString rows;
    for (const QJsonObject &line : qAsConst(shown)) {
        hosts.append(str(line, "host"));
        operators.append(line.contains(QStringLiteral("operator")) ? str(line, "operator")
                                                                   : str(line, "user"));
        const Session::Outcome outcome = Session::outcome(str(line, "outcome"));
        ++counts[outcome];
        if (outcome != Session::Refused)
            ++profiles[profileText(line.value(QStringLiteral("configuration")).toObject())];
        const int attempt = line.value(QStringLiteral("attempt")).toInt(1);
        rows += QStringLiteral("<tr class=\"%1\"><td>%2</td><td>%3</td><td>%4</td><td>%5</td>"
                               "<td class=\"outcome\"><span class=\"word\">%6</span>%7</td>"
                               "<td>%8</td></tr>\n")
                    .arg(Session::name(outcome), timeText(lineTime(line)),
                         escaped(str(line, "device").isEmpty() ? QStringLiteral("-")
                                                               : str(line, "device")),
                         escaped(str(line, "port")), escaped(operators.last()),
                         escaped(str(line, "outcome")),
                         attempt > 1 ? QStringLiteral("<span class=\"attempt\">attempt %1</span>")
                                           .arg(attempt)
                                     : QString(),
                         escaped(detail(line)));
        const QDateTime time = lineTime(line);
        if (time.isValid() && (!first.isValid() || time < first))
            first = time;
        if (time.isValid() && (!last.isValid() || time > last))
            last = time;
    }

    const QDateTime from = period.since.isValid() ? period.since : first;
    const QDateTime to = period.until.isValid() ? period.until : last;
    QStringList profileLines;
    for (auto it = profiles.cbegin(); it != profiles.cend(); ++it)
        profileLines.append(escaped(it.key())
                            + QStringLiteral(" (%1 write%2)")
                                  .arg(it.value())
                                  .arg(QLatin1String(it.value() == 1 ? "" : "s")));
    QStringList countTexts;
    for (int outcome = Session::Verified; outcome <= Session::Refused; ++outcome)
        if (outcome != Session::Written || counts[outcome] > 0)
            countTexts.append(QStringLiteral("%1 %2")
                                  .arg(counts[outcome])
                                  .arg(Session::name(Session::Outcome(outcome))));

    const QString zone = now.toLocalTime().timeZoneAbbreviation();
    QString page;
    page
        += QStringLiteral(
               "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
               "<title>Logger configuration writes: %1</title>\n<style>%2</style></head>\n<body>\n")
               .arg(escaped(source), QLatin1String(kStyle));
    page += QStringLiteral("<h1>Logger configuration writes</h1>\n<table class=\"facts\">\n");
    page += factRow(QStringLiteral("Record"), escaped(source));
    page += factRow(QStringLiteral("Period"),
                    QStringLiteral("%1 to %2 (times in %3)")
                        .arg(from.isValid() ? timeText(from) : QStringLiteral("the start"),
                             to.isValid() ? timeText(to) : QStringLiteral("the end"),
                             escaped(zone)));
    page += factRow(QStringLiteral("Stations"), listed(hosts));
    page += factRow(QStringLiteral("Operators"), listed(operators));
    page += factRow(QStringLiteral("Profiles written"),
                    profileLines.isEmpty() ? QStringLiteral("-")
                                           : profileLines.join(QLatin1String("<br>")));
    page += factRow(QStringLiteral("Audit chain"),
                    chainText(check) + QStringLiteral("<br><span class=\"hash\">head ")
                        + check.head.text() + QStringLiteral("</span>"));
    page += factRow(QStringLiteral("Writes"),
                    QStringLiteral("%1 in all: %2")
                        .arg(shown.size())
                        .arg(countTexts.join(QLatin1String(", "))));
    page += QStringLiteral("</table>\n");
    page += QStringLiteral(
        "<table class=\"writes\"><colgroup><col class=\"time\"><col class=\"device\">"
        "<col class=\"port\"><col class=\"operator\"><col class=\"outcome\"><col></colgroup>\n"
        "<thead><tr><th>Time</th><th>Device</th><th>Port</th><th>Operator</th><th>Outcome</th>"
        "<th>Fields that differed, or why</th></tr></thead>\n<tbody>\n");
    page += rows;
    // Room for the person who checks the page to sign it.
    page += QStringLiteral("</tbody></table>\n<table class=\"sign\"><tr><td>Checked by</td>"
                           "<td>Date</td><td>Signature</td></tr></table>\n"
                           "<p class=\"note\">Made by %1 %2 on %3 (%4).</p>\n</body></html>\n")
                .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion(),
                     timeText(now), escaped(zone));
    return page;
}

} // namespace Report
