#pragma once

#include <QtGlobal>

// What the host and the logger's firmware agree on. The simulator under tools/ includes this
// header too, so the identification code has exactly one definition.
namespace LoggerProtocol {

constexpr quint16 kVendorId = 0x0483; // 1155
constexpr quint16 kProductId = 0x5740; // 22336
constexpr qint32 kBaudRate = 230400;

// Answer of the firmware to the identification request: eight ASCII decimal digits.
constexpr char kIdentificationCode[] = "57402104";
constexpr int kIdentificationLength = 8;
static_assert(sizeof(kIdentificationCode) == kIdentificationLength + 1,
              "the identification code is eight characters");

// Command codes: the first byte of every command the host writes.
constexpr char kConfigReadRequest = '0';
constexpr char kConfigCommand = '1';
constexpr char kDeviceIdRequest = '2';
constexpr char kIdentificationRequest = '3';

// Length of the configuration command and of the configuration reply.
constexpr int kConfigLength = 37;

// How long the host waits for the identification answer, and for the device identifier.
constexpr int kReplyTimeoutMs = 250;
// The identifier has no fixed length and its closing 0x00 byte is optional: once it has begun,
// this much silence ends it.
constexpr int kIdentifierQuietMs = 50;
// The longest identifier kept; what follows is ignored until the next request.
constexpr int kIdentifierMaxLength = 64;
// The whole configuration command must have left the port within this time to count as written.
constexpr int kWriteTimeoutMs = 500;

// A reply may come twice (firmware that repeats it after a lost acknowledgement) or late (a hub
// that delivers a packet late). A request is sent only once the line has been quiet this long
// since the last byte received, and what came meanwhile is dropped, so that such bytes are not
// read as the start of the next reply; a whole copy that comes later still is dropped by the
// reply assembly. It is paid twice in a Connect and Read.
constexpr int kLineQuietMs = 16;
// A line that keeps talking is waited for no longer than this; the request then goes anyway.
constexpr int kLineSettleBoundMs = 100;

} // namespace LoggerProtocol
