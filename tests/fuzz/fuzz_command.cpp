// Arbitrary alarm, interval and zone texts for the configuration command.
//
// Input: one flag byte (bit 0 Fahrenheit, bit 1 alarm on, bit 2 CSV), then up to eight UTF-8
// texts separated by newlines: upper limit, lower limit, start hours, start minutes, log hours,
// log minutes, zone.

#include "device/configcommand.h"
#include "device/loggerprotocol.h"

#include <QTimeZone>

#include <cstdint>
#include <cstdlib>

namespace {
void check(bool condition)
{
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QList<QByteArray> texts
        = QByteArray(reinterpret_cast<const char *>(data + 1), int(size - 1)).split('\n');
    const auto text
        = [&texts](int i) { return i < texts.size() ? QString::fromUtf8(texts.at(i)) : QString(); };

    LoggerConfig fields;
    fields.fahrenheit = data[0] & 1;
    fields.alarmEnabled = data[0] & 2;
    fields.pdf = !(data[0] & 4);
    fields.alarmUpper = text(0);
    fields.alarmLower = text(1);
    fields.startHours = text(2);
    fields.startMinutes = text(3);
    fields.logHours = text(4);
    fields.logMinutes = text(5);
    fields.zone = text(6);

    static const QDateTime now(QDate(2026, 12, 5), QTime(8, 55, 7), Qt::UTC);
    const QByteArray command = configurationCommand(fields, now);
    if (!alarmLimitsUsable(fields)) {
        check(command.isEmpty()); // refused: nothing to write
        return 0;
    }
    check(command.size() == LoggerProtocol::kConfigLength);
    check(command.at(0) == LoggerProtocol::kConfigCommand);
    check(command.at(1) == (*fields.fahrenheit ? '1' : '0'));
    check(command.at(2) == (*fields.alarmEnabled ? '1' : '0'));
    check(command.mid(3, 3) == encodeAlarmLimit(fields.alarmUpper));
    check(command.mid(6, 3) == encodeAlarmLimit(fields.alarmLower));
    for (char byte : command.left(9))
        check(byte == '-' || (byte >= '0' && byte <= '9'));
    check(command.at(17) == (*fields.pdf ? '1' : '0'));
    for (char byte : command.mid(18, 14))
        check(byte >= '0' && byte <= '9');
    check(command.mid(32) == encodeZoneOffset(fields.zone));
    return 0;
}
