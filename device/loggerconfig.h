#pragma once

#include <QString>

#include <optional>

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

/// The logger's settings: what the form shows, what the configuration command carries and what
/// the configuration reply reports. Texts are kept as the form holds them (alarm limits in plain
/// decimal, the four times as two-digit item texts, the zone as "UTC+05:30"), so a reply's
/// field that matches no item of its list stays visible as it came. The three choices are empty
/// when a reply's byte is neither of its two known values.
struct LoggerConfig
{
    std::optional<bool> fahrenheit;
    std::optional<bool> alarmEnabled;
    QString alarmUpper;
    QString alarmLower;
    QString startHours;
    QString startMinutes;
    QString logHours;
    QString logMinutes;
    std::optional<bool> pdf;
    QString zone;

    /// The form at start-up: Celsius, alarm off with limits 5 and 60, start delay 00:30, log
    /// interval 00:10, PDF, "UTC+05:30".
    static LoggerConfig windowDefaults();

    bool operator==(const LoggerConfig &other) const;
    bool operator!=(const LoggerConfig &other) const { return !(*this == other); }
};
