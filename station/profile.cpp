#include "station/profile.h"

#include "clock/alarmlimits.h"
#include "clock/timerules.h"
#include "clock/timezones.h"
#include "device/configcommand.h"

#include "record/files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>
#include <QVector>

#include <algorithm>
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

// A profile is a few hundred bytes; the output of "read --json" is not much more.
constexpr qint64 kLargestProfile = 1 << 20;

// The longest piece of a value that a message repeats.
constexpr int kEchoLength = 24;

QStringList offeredZones()
{
    QStringList zones;
    for (const QByteArray &zone : TimeZones::offeredZones(QTimeZone::availableTimeZoneIds()))
        zones.append(QString::fromLatin1(zone));
    return zones;
}

// Seconds east of UTC of "UTC", "UTC+5", "utc-03:30" or "UTC+0530".
std::optional<int> zoneOffset(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^UTC(?:([+-])([0-9]{1,2})(?::?([0-5][0-9]))?)?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const int seconds = match.captured(2).toInt() * 3600 + match.captured(3).toInt() * 60;
    return match.captured(1) == QLatin1String("-") ? -seconds : seconds;
}

// The window's zone that text stands for: itself, or the listed zone of the same offset.
std::optional<QString> offeredZone(const QString &text, const QStringList &zones)
{
    if (zones.contains(text))
        return text;
    const std::optional<int> offset = zoneOffset(text);
    for (const QString &zone : zones)
        if (offset && zoneOffset(zone) == offset)
            return zone;
    return std::nullopt;
}

// A few of the window's zones nearest to text's offset (a zone name's offset today), in order.
QStringList nearbyZones(const QString &text, const QStringList &zones)
{
    std::optional<int> offset = zoneOffset(text);
    const QByteArray id = text.toLatin1();
    if (!offset && text.size() <= 64 && QTimeZone::isTimeZoneIdAvailable(id))
        offset = QTimeZone(id).offsetFromUtc(QDateTime::currentDateTimeUtc());
    QStringList nearest = zones;
    const auto distance
        = [&](const QString &zone) { return qAbs(*zoneOffset(zone) - offset.value_or(0)); };
    std::stable_sort(nearest.begin(), nearest.end(),
                     [&](const QString &a, const QString &b) { return distance(a) < distance(b); });
    nearest = nearest.mid(0, 3);
    std::sort(nearest.begin(), nearest.end(),
              [](const QString &a, const QString &b) { return *zoneOffset(a) < *zoneOffset(b); });
    return nearest;
}

// Reads one key into config; false when its value is not allowed. held: the value is one a
// logger holds, so the window's lists decide rather than its rules for a new entry.
bool take(const QString &key, const QJsonValue &value, bool held, LoggerConfig &config)
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
            && (held ? TimeRules::intervalListed(config.logHours, config.logMinutes)
                     : TimeRules::intervalOffered(config.logHours, config.logMinutes));
    if (key == QLatin1String("zone")) {
        const std::optional<QString> zone = offeredZone(value.toString(), offeredZones());
        config.zone = zone.value_or(value.toString());
        return value.isString() && zone;
    }
    // report: the window offers CSV too, but never writes it unless a logger held it.
    config.pdf = value.toString() != QLatin1String("csv");
    return value.toString() == QLatin1String("pdf") || (held && !*config.pdf);
}

QString allowed(const QString &key, const QJsonValue &given)
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
    if (key == QLatin1String("zone")) {
        const QStringList zones = offeredZones();
        return QStringLiteral("one of the window's %1 zones, such as %2")
            .arg(zones.size())
            .arg(nearbyZones(given.toString(), zones).join(QLatin1String(", ")));
    }
    return QStringLiteral("\"pdf\" (the window writes PDF reports only)");
}

QString unknownKey(const QString &key)
{
    return QStringLiteral("unknown key \"%1\"; the keys are %2")
        .arg(Profile::shortText(key), Profile::keys().join(QLatin1String(", ")));
}

// The top-level keys "alarm.lower" and the like moved into "alarm", as --set and the messages
// name them; false when one is given both ways.
bool foldDottedKeys(QJsonObject &profile, QString *error)
{
    const QStringList keys = profile.keys();
    for (const QString &key : keys) {
        if (!key.startsWith(kAlarmPrefix) || !profile.value(kAlarm).isObject())
            continue;
        QJsonObject alarm = profile.value(kAlarm).toObject();
        const QString name = key.mid(kAlarmPrefix.size());
        if (alarm.contains(name)) {
            *error = QStringLiteral("%1: given twice, inside \"alarm\" and as \"%1\"").arg(key);
            return false;
        }
        alarm.insert(name, profile.take(key));
        profile.insert(kAlarm, alarm);
    }
    return true;
}

// The first key that an object of valid JSON text gives twice, dotted with the keys of the
// objects around it ("alarm.lower"); nothing when every key is given once.
std::optional<QString> duplicateKey(const QByteArray &text)
{
    struct Level
    {
        bool object = false;
        bool expectKey = false;
        QString path;
        QSet<QString> keys;
    };
    QVector<Level> levels;
    QString lastKey;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '"') {
            int end = i + 1;
            while (end < text.size() && text.at(end) != '"')
                end += text.at(end) == '\\' ? 2 : 1;
            if (!levels.isEmpty() && levels.last().object && levels.last().expectKey) {
                // Decoded, so that "a" and "\u0061" are the same key.
                const QString key = QJsonDocument::fromJson("[" + text.mid(i, end - i + 1) + "]")
                                        .array()
                                        .first()
                                        .toString();
                Level &level = levels.last();
                lastKey = level.path.isEmpty() ? key : level.path + QLatin1Char('.') + key;
                if (level.keys.contains(key))
                    return lastKey;
                level.keys.insert(key);
                level.expectKey = false;
            }
            i = end;
        } else if (c == '{' || c == '[') {
            levels.append(
                {c == '{', c == '{', c == '{' && !levels.isEmpty() ? lastKey : QString(), {}});
        } else if ((c == '}' || c == ']') && !levels.isEmpty()) {
            levels.removeLast();
        } else if (c == ',' && !levels.isEmpty() && levels.last().object) {
            levels.last().expectKey = true;
        }
    }
    return std::nullopt;
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

std::optional<LoggerConfig> toConfig(const QJsonObject &given, QString *error,
                                     const QJsonObject &held)
{
    QJsonObject profile = given;
    if (!profile.contains(kAlarm))
        profile.insert(kAlarm, QJsonObject());
    if (!foldDottedKeys(profile, error))
        return std::nullopt;
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
        const QJsonValue value = Profile::value(profile, key);
        const bool asHeld = !value.isUndefined() && Profile::value(held, key) == value;
        if (!take(key, value.isUndefined() ? Profile::value(defaults, key) : value, asHeld,
                  config)) {
            // A text shows in quotes, as in the profile.
            const QString quoted = value.isString()
                ? QLatin1Char('"') + value.toString() + QLatin1Char('"')
                : QString();
            *error = QStringLiteral("%1: %2 is not allowed; allowed is %3")
                         .arg(key, shortText(quoted.isEmpty() ? value : QJsonValue(quoted)),
                              allowed(key, value));
            return std::nullopt;
        }
    }
    if (!alarmLimitsUsable(config)) {
        *error = QStringLiteral("alarm.lower: not above alarm.upper while the alarm is on");
        return std::nullopt;
    }
    return config;
}

std::optional<QJsonObject> load(const QString &path, QString *error, QJsonObject *held)
{
    const std::optional<QByteArray> read = Files::readAtMost(
        path, kLargestProfile, QStringLiteral("the most a profile may be"), error);
    if (!read) {
        *error = QStringLiteral("%1: %2").arg(path, *error);
        return std::nullopt;
    }
    const QByteArray &text = *read;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (document.isNull()) {
        *error = QStringLiteral("%1: not JSON (%2 at offset %3)")
                     .arg(path, parseError.errorString())
                     .arg(parseError.offset);
        return std::nullopt;
    }
    if (!document.isObject()) {
        *error
            = QStringLiteral("%1: a profile is one JSON object, this file holds a list").arg(path);
        return std::nullopt;
    }
    // Qt keeps the last of a key given twice; a profile that says two things is refused.
    if (const std::optional<QString> key = duplicateKey(text)) {
        *error = QStringLiteral("%1: %2 is given twice; a key is given once").arg(path, *key);
        return std::nullopt;
    }
    const QJsonValue configuration = document.object().value(QStringLiteral("configuration"));
    if (!configuration.isObject())
        return document.object();
    if (held)
        *held = configuration.toObject();
    return configuration.toObject();
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

QList<Difference> differences(const LoggerConfig &written, const LoggerConfig &read)
{
    const QJsonObject first = fromConfig(written);
    const QJsonObject second = fromConfig(read);
    QList<Difference> keysThatDiffer;
    for (const QString &key : keys())
        if (value(first, key) != value(second, key))
            keysThatDiffer.append({key, value(first, key), value(second, key)});
    return keysThatDiffer;
}

QString shortText(const QJsonValue &value)
{
    QString text;
    if (value.isString())
        text = value.toString();
    else if (value.isBool())
        text = QLatin1String(value.toBool() ? "true" : "false");
    else if (value.isDouble() && std::trunc(value.toDouble()) == value.toDouble()
             && std::abs(value.toDouble()) < 1e15)
        text = QString::number(qint64(value.toDouble()));
    else if (value.isNull())
        text = QStringLiteral("null");
    else {
        const QByteArray json = QJsonDocument(QJsonArray {value}).toJson(QJsonDocument::Compact);
        text = QString::fromUtf8(json.mid(1, json.size() - 2));
    }
    return text.size() > kEchoLength ? text.left(kEchoLength - 1) + QChar(0x2026) : text;
}

} // namespace Profile
