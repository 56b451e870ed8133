#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "device/loggerconfig.h"

/// Three bytes for an alarm limit text: "005", "060", "-05", "-40"; empty or non-numeric is 0.
/// Values that do not fit three characters are clamped to "-99" and "999".
QByteArray encodeAlarmLimit(const QString &text);

/// Five bytes from a zone text such as "UTC+05:30": its characters at 3, 4, 5, 7 and 8, a zero
/// byte for each position past the end.
QByteArray encodeZoneOffset(const QString &zone);

/// Fourteen ASCII digits "hhmmssddMMyyyy", whatever the locale: the wall-clock time of the zone
/// named by zoneId at the instant now. A zone the platform does not know falls back to the
/// computer's local time.
QByteArray encodeDeviceClock(const QDateTime &now, const QString &zoneId);

/// True when both limits are usable: whole numbers from -40 to 85 and, with the alarm on, the
/// lower limit not above the upper one.
bool alarmLimitsUsable(const LoggerConfig &config);

/// The 37-byte configuration command, or an empty array when the alarm limits are unusable. A
/// choice left empty counts as its first value (Celsius, alarm off, PDF).
QByteArray configurationCommand(const LoggerConfig &config, const QDateTime &now);
