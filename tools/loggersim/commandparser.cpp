#include "commandparser.h"

#include "device/loggerprotocol.h"

namespace {

int commandLength(char code)
{
    switch (code) {
    case LoggerProtocol::kIdentificationRequest:
    case LoggerProtocol::kDeviceIdRequest:
    case LoggerProtocol::kConfigReadRequest:
        return 1;
    case LoggerProtocol::kConfigCommand:
        return LoggerProtocol::kConfigLength;
    default:
        return 0;
    }
}

LoggerCommand::Kind commandKind(char code)
{
    switch (code) {
    case LoggerProtocol::kIdentificationRequest:
        return LoggerCommand::IdentificationRequest;
    case LoggerProtocol::kDeviceIdRequest:
        return LoggerCommand::DeviceIdRequest;
    case LoggerProtocol::kConfigReadRequest:
        return LoggerCommand::ConfigReadRequest;
    case LoggerProtocol::kConfigCommand:
        return LoggerCommand::ConfigCommand;
    default:
        return LoggerCommand::Unknown;
    }
}

} // namespace

QVector<LoggerCommand> LoggerCommandParser::feed(const QByteArray &bytes)
{
    m_pending += bytes;
    QVector<LoggerCommand> commands;
    int pos = 0;
    while (pos < m_pending.size()) {
        const char code = m_pending.at(pos);
        const int length = commandLength(code);
        if (length == 0) {
            int end = pos + 1;
            while (end < m_pending.size() && commandLength(m_pending.at(end)) == 0)
                ++end;
            commands.append({LoggerCommand::Unknown, m_pending.mid(pos, end - pos)});
            pos = end;
            continue;
        }
        if (m_pending.size() - pos < length)
            break;
        commands.append({commandKind(code), m_pending.mid(pos, length)});
        pos += length;
    }
    m_pending.remove(0, pos);
    return commands;
}
