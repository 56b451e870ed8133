#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "device/loggerconfig.h"

#include <optional>

/// A configuration reply: the settings it reports and the logger's clock as it sent it.
struct ConfigurationReply
{
    LoggerConfig config; // alarm limits "0" for a field that is not a number
    QByteArray clock; // the 14 clock bytes, "hhmmssddMMyyyy"
};

/// Decodes a complete configuration reply (at least 37 bytes; bytes past 37 are ignored).
/// Returns nothing for a shorter reply.
std::optional<ConfigurationReply> decodeConfigurationReply(const QByteArray &reply);

/// The clock bytes shown as "yyyy-MM-dd hh:mm:ss", built without validation; a byte that is not
/// printable shows as U+FFFD.
QString deviceTimeText(const QByteArray &clock);

/// The clock bytes as a wall-clock time (Qt::UTC stands for "no zone"); invalid unless they
/// hold ASCII digits that make a real date and time.
QDateTime deviceClockTime(const QByteArray &clock);

/// The logger's clock minus the current time of zone (a zone text, "UTC+05:30"), in whole
/// seconds; nothing when the clock or the zone is not usable.
std::optional<qint64> deviceClockOffset(const QByteArray &clock, const QString &zone,
                                        const QDateTime &now);
