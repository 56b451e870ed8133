#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

struct LoggerCommand;

// The 37 bytes of the configuration command and of the configuration reply share one layout:
//
//   offset  len  field
//    0       1   code: "1" in the command, "0" in the reply
//    1       1   scale: "0" Celsius, "1" Fahrenheit
//    2       1   alarm enable: "0" off, "1" on
//    3       3   upper alarm limit, e.g. "085", "-05"
//    6       3   lower alarm limit
//    9       2   start delay hours
//   11       2   start delay minutes
//   13       2   log interval hours
//   15       2   log interval minutes
//   17       1   file type: "1" PDF, "0" CSV
//   18      14   clock "hhmmssddMMyyyy", wall-clock time of the logger's zone
//   32       5   zone offset, sign + hhmm, e.g. "+0530"
namespace LoggerSimConfig {

struct Field
{
    int offset;
    int length;
};

constexpr Field kScale {1, 1};
constexpr Field kAlarm {2, 1};
constexpr Field kUpper {3, 3};
constexpr Field kLower {6, 3};
constexpr Field kDelayHours {9, 2};
constexpr Field kDelayMinutes {11, 2};
constexpr Field kIntervalHours {13, 2};
constexpr Field kIntervalMinutes {15, 2};
constexpr Field kFileType {17, 1};
constexpr Field kClock {18, 14};
constexpr Field kZone {32, 5};

inline QByteArray field(const QByteArray &config, Field f)
{
    return config.mid(f.offset, f.length);
}

// Settings at power-up: Celsius, alarm off, limits 060 / 005, delay 00:30, interval 00:10,
// PDF, zone +0530, with the given clock. Code byte "1", as if it had been commanded.
QByteArray defaultConfig(const QDateTime &clock);

// The clock travels as a zone-less wall-clock time; QDateTimes here carry Qt::UTC only so
// that no daylight-saving rule of the host machine touches them.
QByteArray encodeClock(const QDateTime &wallClock);
QDateTime decodeClock(const QByteArray &text); // invalid unless a real date and time

// One line for a person reading the simulator's output, e.g.
// "cmd 1 config: scale=F alarm=on upper=085 lower=-05 delay=02:15 interval=01:30 file=PDF
//  clock=09:05:00 01-01-2027 zone=+0530"
QString describe(const LoggerCommand &command);

// Bytes as text; anything outside printable ASCII becomes \xNN.
QString printable(const QByteArray &bytes);

} // namespace LoggerSimConfig
