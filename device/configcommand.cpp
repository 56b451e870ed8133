#include "device/configcommand.h"

#include "clock/alarmlimits.h"
#include "device/loggerprotocol.h"

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
    return wallClock.toString(QStringLiteral("hhmmssddMMyyyy")).toLatin1();
}

bool alarmLimitsUsable(const ConfigFields &fields)
{
    const auto upper = AlarmLimits::parse(fields.alarmUpper);
    const auto lower = AlarmLimits::parse(fields.alarmLower);
    if (!upper || !lower)
        return false;
    return !fields.alarmEnabled || *lower <= *upper;
}

QByteArray configurationCommand(const ConfigFields &fields, const QDateTime &now)
{
    if (!alarmLimitsUsable(fields))
        return {};

    QByteArray command;
    command.reserve(LoggerProtocol::kConfigLength);
    command.append(LoggerProtocol::kConfigCommand);
    command.append(fields.fahrenheit ? '1' : '0');
    command.append(fields.alarmEnabled ? '1' : '0');
    command.append(encodeAlarmLimit(fields.alarmUpper));
    command.append(encodeAlarmLimit(fields.alarmLower));
    for (const QString *item :
         {&fields.startHours, &fields.startMinutes, &fields.logHours, &fields.logMinutes})
        command.append(item->toLatin1().rightJustified(2, '0', true));
    command.append(fields.pdf ? '1' : '0');
    command.append(
        encodeDeviceClock(now, fields.zone).leftJustified(ConfigLayout::kClockLength, '0', true));
    command.append(encodeZoneOffset(fields.zone));
    return command;
}
