#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

/// A configuration reply decoded into what the form shows. Fields whose byte is not one of the
/// two known values are empty; selections are texts that may match no item of their list.
struct DecodedConfig
{
    std::optional<bool> fahrenheit;
    std::optional<bool> alarmEnabled;
    std::optional<bool> pdf;
    QString alarmUpper; // plain decimal, "85", "-5"; "0" for a field that is not a number
    QString alarmLower;
    QString startHours;
    QString startMinutes;
    QString logHours;
    QString logMinutes;
    QString deviceTime; // "yyyy-MM-dd hh:mm:ss", built from the bytes without validation
    QString zone; // "UTC+05:30"
};

/// Decodes a complete configuration reply (at least 37 bytes; bytes past 37 are ignored).
/// Returns nothing for a shorter reply.
std::optional<DecodedConfig> decodeConfigurationReply(const QByteArray &reply);
