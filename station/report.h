#pragma once

#include "record/auditcheck.h"

#include <QDateTime>
#include <QIODevice>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The printable report of an audit record: one self-contained HTML page (its style inline, no
// script, font or image from anywhere) that prints on A4 and Letter alike and reads in black and
// white, for the person at the desk and for the reviewer who signs it: each logger's final
// outcome, the expected list's coverage, the state of the chain and of the signatures, and every
// line of the record as a row, those it cannot read included. Each printed page names the record
// and its head, so that a loose page is tied to the file.
namespace Report {

/// The writes shown: those from since (included) to until (excluded); an invalid time leaves
/// that end open.
struct Period
{
    QDateTime since;
    QDateTime until;
};

/// What the report shows besides the record.
struct Options
{
    Period period;
    /// The public key files trusted (--trust), and the expected-loggers list (--expect).
    QStringList trust;
    QStringList expected;
};

/// A time given to --since or --until: "2026-12-06", "2026-12-06 14:30", "2026-12-06T14:30:00Z"
/// or with an offset; local time when it names no zone. A date alone stands for the start of
/// that day, or with endOfDay for the start of the next, so that --until covers the day named.
std::optional<QDateTime> parseTime(const QString &text, bool endOfDay);

/// Writes the page for the record's bytes and what checking them found into out, as it goes:
/// false when out fails. source names the record; now and the computer's local zone date the
/// page and show its times.
bool write(QIODevice &out, const QByteArray &data, const Audit::Verification &check,
           const QString &source, const Options &options, const QDateTime &now);

/// Reads the record at path into data and checks it, its signatures against the keys of
/// options.trust: nothing, with error, when the record or a key cannot be read.
std::optional<Audit::Verification> check(const QString &path, const Options &options,
                                         QByteArray *data, QString *error);

/// What checking a record found, in the words of "audit verify" and of the page: the chain in
/// one sentence; each line at fault in the chain (at most most of them, all when negative); a
/// line that cannot be read and the line that carries it; lines appended late; the signatures,
/// one sentence a kind of finding.
QString chainVerdict(const Audit::Verification &check);
QStringList chainFaultTexts(const Audit::Verification &check, int most = -1);
QString repairText(const Audit::Verification::Repair &repair);
QString lateText(const Audit::Verification::Late &late);
QStringList signatureTexts(const Audit::Verification &check);
/// Blank lines and Windows line ends: no fault, but named.
QStringList formTexts(const Audit::Verification &check);
/// Who did the work and who checked it: each run with its operator signed in and out, the
/// operators only typed, each sign-off with what it covers, the lines not signed off.
QStringList peopleTexts(const Audit::Verification &check);

} // namespace Report
