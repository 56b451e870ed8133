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

} // namespace LoggerProtocol
