#pragma once

#include <QByteArrayList>
#include <QDateTime>
#include <QString>

namespace TimeZones {

constexpr int kListLength = 38;
constexpr char kDefaultZone[] = "UTC+05:30";

/// The zones offered to the operator: the last 38 of the platform's identifiers that have the
/// form "UTC+hh:mm" or "UTC-hh:mm", in the platform's order. The logger's protocol takes the
/// zone from fixed positions of that text.
QByteArrayList offeredZones(const QByteArrayList &platformIds);

/// The wall-clock time of zone zoneId at instant now as "yyyy-MM-dd hh:mm:ss" in ASCII digits;
/// empty for a zone the platform does not know.
QString wallClock(const QDateTime &now, const QString &zoneId);

} // namespace TimeZones
