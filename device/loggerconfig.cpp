#include "device/loggerconfig.h"

#include "clock/timezones.h"

LoggerConfig LoggerConfig::windowDefaults()
{
    LoggerConfig config;
    config.fahrenheit = false;
    config.alarmEnabled = false;
    config.alarmUpper = QStringLiteral("60");
    config.alarmLower = QStringLiteral("5");
    config.startHours = QStringLiteral("00");
    config.startMinutes = QStringLiteral("30");
    config.logHours = QStringLiteral("00");
    config.logMinutes = QStringLiteral("10");
    config.pdf = true;
    config.zone = QLatin1String(TimeZones::kDefaultZone);
    return config;
}

bool LoggerConfig::operator==(const LoggerConfig &other) const
{
    return fahrenheit == other.fahrenheit && alarmEnabled == other.alarmEnabled
        && alarmUpper == other.alarmUpper && alarmLower == other.alarmLower
        && startHours == other.startHours && startMinutes == other.startMinutes
        && logHours == other.logHours && logMinutes == other.logMinutes && pdf == other.pdf
        && zone == other.zone;
}
