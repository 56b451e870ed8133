// libFuzzer target for the configuration command and the replies. An even first byte (the
// seeds use "0") fuzzes the command, an odd one ("1") the replies:
//   command: a flag byte (bit 0 Fahrenheit, bit 1 alarm on, bit 2 CSV), then up to seven UTF-8
//            texts separated by newlines: upper limit, lower limit, start hours, start minutes,
//            log hours, log minutes, zone.
//   replies: a byte choosing the command written last (none, "0", "1", "2", "3"), then records
//            of one length byte and that many bytes, each one delivery from the port; a length
//            byte of 0xff starts a new command instead, chosen by the next byte.

#include "clock/alarmlimits.h"
#include "device/configcommand.h"
#include "device/configreply.h"
#include "device/loggerprotocol.h"
#include "device/replyassembler.h"

#include <QMap>

#include <cstdint>
#include <cstdlib>

namespace {

using namespace LoggerProtocol;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void fuzzCommand(const QByteArray &input)
{
    const QList<QByteArray> texts = input.mid(1).split('\n');
    LoggerConfig config;
    config.fahrenheit = input.at(0) & 1;
    config.alarmEnabled = input.at(0) & 2;
    config.pdf = !(input.at(0) & 4);
    QString *fields[]
        = {&config.alarmUpper, &config.alarmLower, &config.startHours, &config.startMinutes,
           &config.logHours,   &config.logMinutes, &config.zone};
    for (int i = 0; i < 7; ++i)
        *fields[i] = QString::fromUtf8(texts.value(i));
    static const QDateTime now(QDate(2026, 12, 5), QTime(8, 55, 7), Qt::UTC);
    const QByteArray command = configurationCommand(config, now);
    // Refused, or 37 bytes that read back with the choices and limits they were given.
    check(command.isEmpty() != alarmLimitsUsable(config));
    if (command.isEmpty())
        return;
    check(command.size() == kConfigLength && command.at(0) == kConfigCommand);
    const LoggerConfig sent = decodeConfigurationReply(command)->config;
    check(sent.fahrenheit == config.fahrenheit && sent.alarmEnabled == config.alarmEnabled
          && sent.pdf == config.pdf);
    check(sent.alarmUpper.toInt() == *AlarmLimits::parse(config.alarmUpper)
          && sent.alarmLower.toInt() == *AlarmLimits::parse(config.alarmLower));
}

void fuzzReplies(const QByteArray &input)
{
    static const char kCommands[]
        = {'\0', kConfigReadRequest, kConfigCommand, kDeviceIdRequest, kIdentificationRequest};
    ReplyAssembler reply;
    reply.begin(kCommands[uchar(input.at(0)) % 5]);
    for (int at = 1; at < input.size();) {
        const uchar length = uchar(input.at(at++));
        if (length == 0xff) {
            if (at < input.size())
                reply.begin(kCommands[uchar(input.at(at++)) % 5]);
            continue;
        }
        const bool wasComplete = reply.isComplete();
        const QByteArray before = reply.bytes();
        const bool added = reply.feed(input.mid(at, length));
        at += length;
        check(!wasComplete || (!added && reply.bytes() == before)); // nothing joins a whole reply
        // A reply never outgrows its kind, and an identifier holds no zero byte; a configuration
        // reply decodes once whole, never before.
        const QByteArray &bytes = reply.bytes();
        const QMap<char, int> longest {{kIdentificationRequest, kIdentificationLength},
                                       {kDeviceIdRequest, kIdentifierMaxLength},
                                       {kConfigReadRequest, kConfigLength}};
        check(bytes.size() <= longest.value(reply.command(), 0));
        check(reply.command() != kDeviceIdRequest || !bytes.contains('\0'));
        if (reply.command() == kConfigReadRequest) {
            const auto config = decodeConfigurationReply(bytes);
            check(config.has_value() == reply.isComplete());
            check(!config || deviceTimeText(config->clock).size() == 19);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), int(size - 1));
    if (data[0] % 2 == 0)
        fuzzCommand(input);
    else
        fuzzReplies(input);
    return 0;
}
