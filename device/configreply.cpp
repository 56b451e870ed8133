#include "device/configreply.h"

#include <QTimeZone>

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

// ASCII digits only: toInt() would also take a sign or spaces.
int digits(const QByteArray &text, int from, int count)
{
    int value = 0;
    for (int i = from; i < from + count; ++i) {
        const char c = text.at(i);
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

std::optional<ConfigurationReply> decodeConfigurationReply(const QByteArray &reply)
{
    using namespace ConfigLayout;
    if (reply.size() < LoggerProtocol::kConfigLength)
        return std::nullopt;

    ConfigurationReply decoded;
    LoggerConfig &config = decoded.config;
    config.fahrenheit = flag(reply.at(kScale), '1', '0');
    config.alarmEnabled = flag(reply.at(kAlarmEnable), '1', '0');
    config.pdf = flag(reply.at(kFileType), '1', '0');
    config.alarmUpper = alarmLimit(reply, kAlarmUpper);
    config.alarmLower = alarmLimit(reply, kAlarmLower);
    config.startHours = latin1(reply, kStartHours, 2);
    config.startMinutes = latin1(reply, kStartMinutes, 2);
    config.logHours = latin1(reply, kLogHours, 2);
    config.logMinutes = latin1(reply, kLogMinutes, 2);
    config.zone = QStringLiteral("UTC") + latin1(reply, kZone, 3) + QLatin1Char(':')
        + latin1(reply, kZone + 3, 2);
    decoded.clock = reply.mid(kClock, kClockLength);
    return decoded;
}

QString deviceTimeText(const QByteArray &clock)
{
    // The clock bytes run hhmmssddMMyyyy; the field shows them as yyyy-MM-dd hh:mm:ss.
    const QByteArray bytes = clock.leftJustified(ConfigLayout::kClockLength, '\0', true);
    const auto part = [&bytes](int offset, int length) {
        QString text = QString::fromLatin1(bytes.constData() + offset, length);
        for (QChar &c : text)
            if (!c.isPrint())
                c = QChar::ReplacementCharacter;
        return text;
    };
    return part(10, 4) + QLatin1Char('-') + part(8, 2) + QLatin1Char('-') + part(6, 2)
        + QLatin1Char(' ') + part(0, 2) + QLatin1Char(':') + part(2, 2) + QLatin1Char(':')
        + part(4, 2);
}

QDateTime deviceClockTime(const QByteArray &clock)
{
    if (clock.size() != ConfigLayout::kClockLength)
        return {};
    const QTime time(digits(clock, 0, 2), digits(clock, 2, 2), digits(clock, 4, 2));
    const QDate date(digits(clock, 10, 4), digits(clock, 8, 2), digits(clock, 6, 2));
    if (!time.isValid() || !date.isValid())
        return {};
    return QDateTime(date, time, Qt::UTC);
}

std::optional<qint64> deviceClockOffset(const QByteArray &clock, const QString &zone,
                                        const QDateTime &now)
{
    const QDateTime device = deviceClockTime(clock);
    const QTimeZone timeZone(zone.toLatin1());
    if (!device.isValid() || !timeZone.isValid())
        return std::nullopt;
    const QDateTime wall = now.toTimeZone(timeZone);
    const QTime seconds(wall.time().hour(), wall.time().minute(), wall.time().second());
    return QDateTime(wall.date(), seconds, Qt::UTC).secsTo(device);
}
