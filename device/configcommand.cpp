#include "device/configcommand.h"

#include "clock/alarmlimits.h"
#include "device/loggerprotocol.h"

#include <QLocale>
#include <QTimeZone>

#include <algorithm>

QByteArray encodeAlarmLimit(const QString &text)
{
    bool ok = false;
    int value = text.toInt(&ok, 10);
    if (!ok)
        value = 0;
    value = std::clamp(value, -99, 999);
    if (value >= 0)
        return QByteArray::number(value).rightJustified(3, '0');
    return '-' + QByteArray::number(-value).rightJustified(2, '0');
}

QByteArray encodeZoneOffset(const QString &zone)
{
    QByteArray bytes;
    const QByteArray text = zone.toLatin1();
    for (int position : {3, 4, 5, 7, 8})
        bytes.append(position < text.size() ? text.at(position) : '\0');
    return bytes;
}

QByteArray encodeDeviceClock(const QDateTime &now, const QString &zoneId)
{
    const QTimeZone zone(zoneId.toLatin1());
    const QDateTime wallClock = zone.isValid() ? now.toTimeZone(zone) : now.toLocalTime();
    // The C locale: the system locale may write its own digits, which the logger cannot read.
    return QLocale::c().toString(wallClock, QStringLiteral("hhmmssddMMyyyy")).toLatin1();
}

bool alarmLimitsUsable(const LoggerConfig &config)
{
    const auto upper = AlarmLimits::parse(config.alarmUpper);
    const auto lower = AlarmLimits::parse(config.alarmLower);
    if (!upper || !lower)
        return false;
    return !config.alarmEnabled.value_or(false) || *lower <= *upper;
}

QByteArray configurationCommand(const LoggerConfig &config, const QDateTime &now)
{
    if (!alarmLimitsUsable(config))
        return {};

    QByteArray command;
    command.reserve(LoggerProtocol::kConfigLength);
    command.append(LoggerProtocol::kConfigCommand);
    command.append(config.fahrenheit.value_or(false) ? '1' : '0');
    command.append(config.alarmEnabled.value_or(false) ? '1' : '0');
    command.append(encodeAlarmLimit(config.alarmUpper));
    command.append(encodeAlarmLimit(config.alarmLower));
    for (const QString *item :
         {&config.startHours, &config.startMinutes, &config.logHours, &config.logMinutes})
        command.append(item->toLatin1().rightJustified(2, '0', true));
    command.append(config.pdf.value_or(true) ? '1' : '0');
    command.append(
        encodeDeviceClock(now, config.zone).leftJustified(ConfigLayout::kClockLength, '0', true));
    command.append(encodeZoneOffset(config.zone));
    return command;
}
