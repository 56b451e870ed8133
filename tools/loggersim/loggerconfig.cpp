#include "loggerconfig.h"

#include "commandparser.h"

#include "device/loggerprotocol.h"

namespace LoggerSimConfig {

namespace {

QString choice(const QByteArray &value, const char *zero, const char *one)
{
    if (value == "0")
        return QLatin1String(zero);
    if (value == "1")
        return QLatin1String(one);
    return QLatin1Char('?') + printable(value);
}

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

QString describeConfig(const QByteArray &config)
{
    const QDateTime clock = decodeClock(field(config, kClock));
    const QString clockText = clock.isValid()
        ? QString::asprintf("%02d:%02d:%02d %02d-%02d-%04d", clock.time().hour(),
                            clock.time().minute(), clock.time().second(), clock.date().day(),
                            clock.date().month(), clock.date().year())
        : QLatin1Char('?') + printable(field(config, kClock));
    return QStringLiteral("cmd 1 config: scale=%1 alarm=%2 upper=%3 lower=%4 delay=%5:%6 "
                          "interval=%7:%8 file=%9 clock=%10 zone=%11")
        .arg(choice(field(config, kScale), "C", "F"), choice(field(config, kAlarm), "off", "on"),
             printable(field(config, kUpper)), printable(field(config, kLower)),
             printable(field(config, kDelayHours)), printable(field(config, kDelayMinutes)),
             printable(field(config, kIntervalHours)), printable(field(config, kIntervalMinutes)),
             choice(field(config, kFileType), "CSV", "PDF"))
        .arg(clockText, printable(field(config, kZone)));
}

} // namespace

QByteArray defaultConfig(const QDateTime &clock)
{
    return QByteArray(1, LoggerProtocol::kConfigCommand) + "00060005003000101" + encodeClock(clock)
        + "+0530";
}

QByteArray encodeClock(const QDateTime &wallClock)
{
    const QDate d = wallClock.date();
    const QTime t = wallClock.time();
    // Formatted by hand: QDateTime::toString would follow the system locale's digits.
    return QString::asprintf("%02d%02d%02d%02d%02d%04d", t.hour(), t.minute(), t.second(), d.day(),
                             d.month(), d.year())
        .toLatin1();
}

QDateTime decodeClock(const QByteArray &text)
{
    if (text.size() != kClock.length)
        return {};
    const QTime time(digits(text, 0, 2), digits(text, 2, 2), digits(text, 4, 2));
    const QDate date(digits(text, 10, 4), digits(text, 8, 2), digits(text, 6, 2));
    if (!time.isValid() || !date.isValid())
        return {};
    return QDateTime(date, time, Qt::UTC);
}

QString describe(const LoggerCommand &command)
{
    switch (command.kind) {
    case LoggerCommand::IdentificationRequest:
        return QStringLiteral("cmd 3 identification request");
    case LoggerCommand::DeviceIdRequest:
        return QStringLiteral("cmd 2 device-id request");
    case LoggerCommand::ConfigReadRequest:
        return QStringLiteral("cmd 0 config read request");
    case LoggerCommand::ConfigCommand:
        return describeConfig(command.bytes);
    case LoggerCommand::Unknown:
        break;
    }
    return QStringLiteral("unknown: %1 byte(s) skipped: %2")
        .arg(command.bytes.size())
        .arg(printable(command.bytes));
}

QString printable(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f && c != '\\')
            text += QLatin1Char(c);
        else
            text += QString::asprintf("\\x%02x", u);
    }
    return text;
}

} // namespace LoggerSimConfig
