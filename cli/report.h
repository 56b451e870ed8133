#pragma once

#include "audit.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// The printable report of an audit record: one self-contained HTML page (its style inline, no
// script, font or image from anywhere) that prints on A4 and Letter alike and reads in black and
// white, for the person at the desk and for quality assurance.
namespace Report {

/// The writes shown: those from since (included) to until (excluded); an invalid time leaves
/// that end open.
struct Period
{
    QDateTime since;
    QDateTime until;
};

/// A time given to --since or --until: "2026-12-06", "2026-12-06 14:30", "2026-12-06T14:30:00Z"
/// or with an offset; local time when it names no zone. A date alone stands for the start of
/// that day, or with endOfDay for the start of the next, so that --until covers the day named.
std::optional<QDateTime> parseTime(const QString &text, bool endOfDay);

/// The page for the record's lines. source names the record; now and the computer's local zone
/// date the page and show its times.
QString html(const QList<QJsonObject> &lines, const Audit::Verification &check,
             const QString &source, const Period &period, const QDateTime &now);

} // namespace Report
