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
// "alarm.upper".
namespace Profile {

/// Every key, in the order above.
QStringList keys();

/// The value of key in profile, "alarm.lower" inside "alarm".
QJsonValue value(const QJsonObject &profile, const QString &key);

/// The profile of a configuration, every key present; a choice that a reply left undecided is
/// null, a limit that is no number its text.
QJsonObject fromConfig(const LoggerConfig &config);

/// The configuration a profile stands for, checked with the window's rules; a missing key takes
/// the window's start-up value. On a key that is unknown, of the wrong type or out of range,
/// nothing, and error names the key and what is allowed.
std::optional<LoggerConfig> toConfig(const QJsonObject &profile, QString *error);

/// Reads a profile file. The output of "read --json" for one logger serves too: its
/// "configuration" object is the profile.
std::optional<QJsonObject> load(const QString &path, QString *error);

/// Sets one key from "KEY=VALUE": VALUE is taken as JSON where it is one (true, 2, -5), else
/// as text (00:15, UTC+05:30, C).
bool set(QJsonObject &profile, const QString &setting, QString *error);

/// The keys whose values differ between two configurations, in the order of keys().
QStringList differences(const LoggerConfig &a, const LoggerConfig &b);

} // namespace Profile
