#include "profile.h"

#include "clock/alarmlimits.h"
#include "clock/timerules.h"
#include "clock/timezones.h"
#include "device/configcommand.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTimeZone>

#include <cmath>

namespace {

const QString kAlarm = QStringLiteral("alarm");
const QString kAlarmPrefix = QStringLiteral("alarm.");

QJsonValue choice(const std::optional<bool> &value, const char *whenFalse, const char *whenTrue)
{
    if (!value)
        return QJsonValue::Null;
    return QLatin1String(*value ? whenTrue : whenFalse);
}

QJsonValue flag(const std::optional<bool> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QJsonValue limit(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? QJsonValue(value) : QJsonValue(text);
}

// "hh:mm" into its two texts.
bool splitTime(const QJsonValue &value, QString *hours, QString *minutes)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]{2}):([0-9]{2})$"));
    const QRegularExpressionMatch match = form.match(value.toString());
    if (!value.isString() || !match.hasMatch())
        return false;
    *hours = match.captured(1);
    *minutes = match.captured(2);
    return true;
}

std::optional<QString> alarmLimit(const QJsonValue &value)
{
    const double number = value.toDouble();
    if (!value.isDouble() || std::trunc(number) != number || std::abs(number) > 1000)
        return std::nullopt;
    const QString text = QString::number(qint64(number));
    if (!AlarmLimits::parse(text))
        return std::nullopt;
    return text;
}

QStringList offeredZones()
{
    QStringList zones;
    for (const QByteArray &zone : TimeZones::offeredZones(QTimeZone::availableTimeZoneIds()))
        zones.append(QString::fromLatin1(zone));
    return zones;
}

// Reads one key into config; false when its value is not allowed.
bool take(const QString &key, const QJsonValue &value, LoggerConfig &config)
{
    if (key == QLatin1String("scale")) {
        const QString text = value.toString();
        config.fahrenheit = text == QLatin1String("F");
        return text == QLatin1String("C") || text == QLatin1String("F");
    }
    if (key == QLatin1String("alarm.enabled")) {
        config.alarmEnabled = value.toBool();
        return value.isBool();
    }
    if (key == QLatin1String("alarm.lower") || key == QLatin1String("alarm.upper")) {
        const std::optional<QString> text = alarmLimit(value);
        (key == QLatin1String("alarm.lower") ? config.alarmLower : config.alarmUpper)
            = text.value_or(QString());
        return text.has_value();
    }
    if (key == QLatin1String("startDelay"))
        return splitTime(value, &config.startHours, &config.startMinutes)
            && TimeRules::startDelayOffered(config.startHours, config.startMinutes);
    if (key == QLatin1String("interval"))
        return splitTime(value, &config.logHours, &config.logMinutes)
            && TimeRules::intervalOffered(config.logHours, config.logMinutes);
    if (key == QLatin1String("zone")) {
        config.zone = value.toString();
        return value.isString() && offeredZones().contains(config.zone);
    }
    // report: the window offers CSV too, but never writes it.
    config.pdf = true;
    return value.toString() == QLatin1String("pdf");
}

QString allowed(const QString &key)
{
    if (key == QLatin1String("scale"))
        return QStringLiteral("\"C\" or \"F\"");
    if (key == QLatin1String("alarm.enabled"))
        return QStringLiteral("true or false");
    if (key.startsWith(kAlarmPrefix))
        return QStringLiteral("a whole number from %1 to %2")
            .arg(AlarmLimits::kLowest)
            .arg(AlarmLimits::kHighest);
    if (key == QLatin1String("startDelay"))
        return QStringLiteral("\"hh:mm\" from 00:00 to 04:59");
    if (key == QLatin1String("interval"))
        return QStringLiteral("\"hh:mm\" from 00:10 to 18:59, minutes 01 to 59");
    if (key == QLatin1String("zone"))
        return QStringLiteral("one of the window's zones: ")
            + offeredZones().join(QLatin1String(", "));
    return QStringLiteral("\"pdf\" (the window writes PDF reports only)");
}

QString unknownKey(const QString &key)
{
    return QStringLiteral("unknown key \"%1\"; the keys are %2")
        .arg(key, Profile::keys().join(QLatin1String(", ")));
}

} // namespace

namespace Profile {

QStringList keys()
{
    return {QStringLiteral("scale"),       QStringLiteral("alarm.enabled"),
            QStringLiteral("alarm.lower"), QStringLiteral("alarm.upper"),
            QStringLiteral("startDelay"),  QStringLiteral("interval"),
            QStringLiteral("zone"),        QStringLiteral("report")};
}

QJsonValue value(const QJsonObject &profile, const QString &key)
{
    if (key.startsWith(kAlarmPrefix))
        return profile.value(kAlarm).toObject().value(key.mid(kAlarmPrefix.size()));
    return profile.value(key);
}

QJsonObject fromConfig(const LoggerConfig &config)
{
    const QJsonObject alarm {{QStringLiteral("enabled"), flag(config.alarmEnabled)},
                             {QStringLiteral("lower"), limit(config.alarmLower)},
                             {QStringLiteral("upper"), limit(config.alarmUpper)}};
    return {
        {QStringLiteral("scale"), choice(config.fahrenheit, "C", "F")},
        {kAlarm, alarm},
        {QStringLiteral("startDelay"), config.startHours + QLatin1Char(':') + config.startMinutes},
        {QStringLiteral("interval"), config.logHours + QLatin1Char(':') + config.logMinutes},
        {QStringLiteral("zone"), config.zone},
        {QStringLiteral("report"), choice(config.pdf, "csv", "pdf")}};
}

std::optional<LoggerConfig> toConfig(const QJsonObject &profile, QString *error)
{
    const QStringList known = keys();
    for (auto it = profile.begin(); it != profile.end(); ++it) {
        if (it.key() == kAlarm && !it.value().isObject()) {
            *error = QStringLiteral("alarm: an object with the keys enabled, lower and upper");
            return std::nullopt;
        }
        const QStringList names
            = it.key() == kAlarm ? it.value().toObject().keys() : QStringList {it.key()};
        for (const QString &name : names) {
            const QString key = it.key() == kAlarm ? kAlarmPrefix + name : name;
            if (!known.contains(key)) {
                *error = unknownKey(key);
                return std::nullopt;
            }
        }
    }

    const QJsonObject defaults = fromConfig(LoggerConfig::windowDefaults());
    LoggerConfig config;
    for (const QString &key : known) {
        const QJsonValue given = value(profile, key);
        if (!take(key, given.isUndefined() ? value(defaults, key) : given, config)) {
            const QByteArray json
                = QJsonDocument(QJsonArray {given}).toJson(QJsonDocument::Compact);
            *error = QStringLiteral("%1: %2 is not allowed; allowed is %3")
                         .arg(key, QString::fromUtf8(json.mid(1, json.size() - 2)), allowed(key));
            return std::nullopt;
        }
    }
    if (!alarmLimitsUsable(config)) {
        *error = QStringLiteral("alarm.lower: not above alarm.upper while the alarm is on");
        return std::nullopt;
    }
    return config;
}

std::optional<QJsonObject> load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        *error = QStringLiteral("%1: not a JSON object (%2 at offset %3)")
                     .arg(path, parseError.errorString())
                     .arg(parseError.offset);
        return std::nullopt;
    }
    const QJsonValue configuration = document.object().value(QStringLiteral("configuration"));
    return configuration.isObject() ? configuration.toObject() : document.object();
}

bool set(QJsonObject &profile, const QString &setting, QString *error)
{
    const int equals = setting.indexOf(QLatin1Char('='));
    const QString key = setting.left(equals);
    if (equals < 0 || !keys().contains(key)) {
        *error = equals < 0 ? QStringLiteral("--set %1: expected KEY=VALUE").arg(setting)
                            : unknownKey(key);
        return false;
    }
    const QString text = setting.mid(equals + 1);
    const QJsonArray json = QJsonDocument::fromJson("[" + text.toUtf8() + "]").array();
    const QJsonValue value = json.size() == 1 ? json.first() : QJsonValue(text);
    if (key.startsWith(kAlarmPrefix)) {
        QJsonObject alarm = profile.value(kAlarm).toObject();
        alarm[key.mid(kAlarmPrefix.size())] = value;
        profile[kAlarm] = alarm;
    } else {
        profile[key] = value;
    }
    return true;
}

QStringList differences(const LoggerConfig &a, const LoggerConfig &b)
{
    const QJsonObject first = fromConfig(a);
    const QJsonObject second = fromConfig(b);
    QStringList keysThatDiffer;
    for (const QString &key : keys())
        if (value(first, key) != value(second, key))
            keysThatDiffer.append(key);
    return keysThatDiffer;
}

} // namespace Profile
