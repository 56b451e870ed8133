#include "device/configreply.h"

#include "device/configcommand.h"
#include "device/loggerprotocol.h"

namespace {

std::optional<bool> flag(char byte, char whenTrue, char whenFalse)
{
    if (byte == whenTrue)
        return true;
    if (byte == whenFalse)
        return false;
    return std::nullopt;
}

// One byte, one character; a zero byte too (the QByteArray overload would stop there).
QString latin1(const QByteArray &reply, int offset, int length)
{
    return QString::fromLatin1(reply.constData() + offset, length);
}

QString alarmLimit(const QByteArray &reply, int offset)
{
    bool ok = false;
    const int value = latin1(reply, offset, ConfigLayout::kLimitLength).toInt(&ok, 10);
    return QString::number(ok ? value : 0);
}

} // namespace

std::optional<DecodedConfig> decodeConfigurationReply(const QByteArray &reply)
{
    using namespace ConfigLayout;
    if (reply.size() < LoggerProtocol::kConfigLength)
        return std::nullopt;

    DecodedConfig config;
    config.fahrenheit = flag(reply.at(kScale), '1', '0');
    config.alarmEnabled = flag(reply.at(kAlarmEnable), '1', '0');
    config.pdf = flag(reply.at(kFileType), '1', '0');
    config.alarmUpper = alarmLimit(reply, kAlarmUpper);
    config.alarmLower = alarmLimit(reply, kAlarmLower);
    config.startHours = latin1(reply, kStartHours, 2);
    config.startMinutes = latin1(reply, kStartMinutes, 2);
    config.logHours = latin1(reply, kLogHours, 2);
    config.logMinutes = latin1(reply, kLogMinutes, 2);

    // The clock bytes run hhmmssddMMyyyy; the field shows them as yyyy-MM-dd hh:mm:ss.
    const auto clock
        = [&reply](int offset, int length) { return latin1(reply, kClock + offset, length); };
    config.deviceTime = clock(10, 4) + QLatin1Char('-') + clock(8, 2) + QLatin1Char('-')
        + clock(6, 2) + QLatin1Char(' ') + clock(0, 2) + QLatin1Char(':') + clock(2, 2)
        + QLatin1Char(':') + clock(4, 2);

    config.zone = QStringLiteral("UTC") + latin1(reply, kZone, 3) + QLatin1Char(':')
        + latin1(reply, kZone + 3, 2);
    return config;
}
