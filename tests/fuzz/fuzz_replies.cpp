// Arbitrary bytes in arbitrary deliveries, after each of the four commands and before any.
//
// Input: one byte choosing the command written last (none, "0", "1", "2", "3"), then records of
// one length byte and that many bytes, each record one delivery from the port. A length byte
// of 0xff starts a new command instead, chosen by the next byte.

#include "device/configreply.h"
#include "device/loggerprotocol.h"
#include "device/replyassembler.h"

#include <cstdint>
#include <cstdlib>

namespace {

constexpr char kCommands[]
    = {'\0', LoggerProtocol::kConfigReadRequest, LoggerProtocol::kConfigCommand,
       LoggerProtocol::kDeviceIdRequest, LoggerProtocol::kIdentificationRequest};

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void checkReply(const ReplyAssembler &reply)
{
    const QByteArray &bytes = reply.bytes();
    switch (reply.command()) {
    case LoggerProtocol::kIdentificationRequest:
        check(bytes.size() <= LoggerProtocol::kIdentificationLength);
        check(reply.isComplete() == (bytes.size() == LoggerProtocol::kIdentificationLength));
        break;
    case LoggerProtocol::kConfigReadRequest:
        check(bytes.size() <= LoggerProtocol::kConfigLength);
        check(reply.isComplete() == (bytes.size() == LoggerProtocol::kConfigLength));
        if (reply.isComplete()) {
            const auto config = decodeConfigurationReply(bytes);
            check(config.has_value());
            check(config->config.zone.size() == 9);
            check(deviceTimeText(config->clock).size() == 19);
            check(config->config.startHours.size() == 2 && config->config.logMinutes.size() == 2);
            check(config->config.alarmUpper.toInt() >= -99
                  && config->config.alarmUpper.toInt() <= 999);
        } else {
            check(!decodeConfigurationReply(bytes).has_value());
        }
        break;
    case LoggerProtocol::kDeviceIdRequest:
        check(!bytes.contains('\0') && bytes.size() <= LoggerProtocol::kIdentifierMaxLength);
        break;
    default:
        check(bytes.isEmpty() && !reply.isComplete());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    ReplyAssembler reply;
    reply.begin(kCommands[data[0] % sizeof kCommands]);
    size_t at = 1;
    while (at < size) {
        const uint8_t length = data[at++];
        if (length == 0xff) {
            if (at < size)
                reply.begin(kCommands[data[at++] % sizeof kCommands]);
            continue;
        }
        const size_t taken = std::min<size_t>(length, size - at);
        const bool wasComplete = reply.isComplete();
        const QByteArray before = reply.bytes();
        const bool added
            = reply.feed(QByteArray(reinterpret_cast<const char *>(data + at), int(taken)));
        at += taken;
        if (wasComplete)
            check(!added && reply.bytes() == before); // nothing joins a complete reply
        checkReply(reply);
    }
    return 0;
}
