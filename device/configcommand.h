#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The configuration command, 37 ASCII bytes; the configuration reply has the same layout.
//
//   offset  length  field
//        0       1  command code "1" (byte 0 of a reply is the logger's own)
//        1       1  temperature scale: "0" Celsius, "1" Fahrenheit
//        2       1  alarm enable: "0" off, "1" on
//        3       3  upper alarm limit, e.g. "085", "-05"
//        6       3  lower alarm limit
//        9       2  start delay, hours "00".."04"
//       11       2  start delay, minutes "00".."59"
//       13       2  log interval, hours "00".."18"
//       15       2  log interval, minutes "01".."59"
//       17       1  report file type: "1" PDF, "0" CSV
//       18      14  device clock "hhmmssddMMyyyy", wall-clock time of the zone
//       32       5  zone offset: sign, hour digits, minute digits, e.g. "+0530"
namespace ConfigLayout {
constexpr int kScale = 1;
constexpr int kAlarmEnable = 2;
constexpr int kAlarmUpper = 3;
constexpr int kAlarmLower = 6;
constexpr int kLimitLength = 3;
constexpr int kStartHours = 9;
constexpr int kStartMinutes = 11;
constexpr int kLogHours = 13;
constexpr int kLogMinutes = 15;
constexpr int kFileType = 17;
constexpr int kClock = 18;
constexpr int kClockLength = 14;
constexpr int kZone = 32;
constexpr int kZoneLength = 5;
} // namespace ConfigLayout

/// The form's state as the configuration command takes it: texts as the widgets hold them.
struct ConfigFields
{
    bool fahrenheit = false;
    bool alarmEnabled = false;
    QString alarmUpper;
    QString alarmLower;
    QString startHours;
    QString startMinutes;
    QString logHours;
    QString logMinutes;
    bool pdf = true;
    QString zone;
};

/// Three bytes for an alarm limit text: "005", "060", "-05", "-40"; empty or non-numeric is 0.
/// Values that do not fit three characters are clamped to "-99" and "999".
QByteArray encodeAlarmLimit(const QString &text);

/// Five bytes from a zone text such as "UTC+05:30": its characters at 3, 4, 5, 7 and 8, a zero
/// byte for each position past the end.
QByteArray encodeZoneOffset(const QString &zone);

/// Fourteen digits "hhmmssddMMyyyy": the wall-clock time of the zone named by zoneId at the
/// instant now. A zone the platform does not know falls back to the computer's local time.
QByteArray encodeDeviceClock(const QDateTime &now, const QString &zoneId);

/// True when both limits are usable: whole numbers from -40 to 85 and, with the alarm on, the
/// lower limit not above the upper one.
bool alarmLimitsUsable(const ConfigFields &fields);

/// The 37-byte configuration command, or an empty array when the alarm limits are unusable.
QByteArray configurationCommand(const ConfigFields &fields, const QDateTime &now);
