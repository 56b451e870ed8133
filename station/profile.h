#pragma once

#include "device/loggerconfig.h"

#include <QJsonObject>
#include <QStringList>

#include <optional>

// A profile: the settings to write, as a small JSON object.
//
//   key          allowed                                   window's start-up value
//   scale        "C" or "F"                                "C"
//   alarm        {"enabled": true or false,                false
//                 "lower": whole number -40 to 85,         5
//                 "upper": whole number -40 to 85}         60
//   startDelay   "hh:mm", 00:00 to 04:59                   "00:30"
//   interval     "hh:mm", 00:10 to 18:59, minutes 01-59    "00:10"
//   zone         a zone the window lists, "UTC+05:30"      "UTC+05:30"
//   report       "pdf"                                     "pdf"
//
// Messages and --set name the keys inside "alarm" as "alarm.enabled", "alarm.lower" and
// "alarm.upper"; a profile may use that form too. Zones are taken in any letter case, and
// "UTC" or "UTC+00:00" stand for the window's zone of offset zero.
//
// A value read back from a logger is taken back as it is, whatever its form allows: a restore
// also writes the short intervals (00:01 to 00:09) the window can set before its hours change
// and CSV reports, which a hand-written profile cannot ask for.
namespace Profile {

/// A key whose written and read-back values differ.
struct Difference
{
    QString key;
    QJsonValue written;
    QJsonValue read;
};

/// Every key, in the order above.
QStringList keys();

/// The value of key in profile, "alarm.lower" inside "alarm".
QJsonValue value(const QJsonObject &profile, const QString &key);

/// The profile of a configuration, every key present; a choice that a reply left undecided is
/// null, a limit that is no number its text.
QJsonObject fromConfig(const LoggerConfig &config);

/// The configuration a profile stands for, checked with the window's rules; a missing key takes
/// the window's start-up value. A value equal to the one in held (a configuration read from a
/// logger) passes as a logger holds it. On a key that is unknown, of the wrong type or out of
/// range, nothing, and error names the key and what is allowed.
std::optional<LoggerConfig> toConfig(const QJsonObject &profile, QString *error,
                                     const QJsonObject &held = {});

/// Reads a profile file. The output of "read --json" for one logger serves too: its
/// "configuration" object is the profile, and held is set to it.
std::optional<QJsonObject> load(const QString &path, QString *error, QJsonObject *held = nullptr);

/// Sets one key from "KEY=VALUE": VALUE is taken as JSON where it is one (true, 2, -5), else
/// as text (00:15, UTC+05:30, C).
bool set(QJsonObject &profile, const QString &setting, QString *error);

/// The keys whose values differ between a configuration written and the one read back, in the
/// order of keys().
QList<Difference> differences(const LoggerConfig &written, const LoggerConfig &read);

/// The value as a short text for people: strings bare, numbers whole, at most a few dozen
/// characters of it.
QString shortText(const QJsonValue &value);

} // namespace Profile
