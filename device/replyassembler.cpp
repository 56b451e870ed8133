#include "device/replyassembler.h"

#include "device/loggerprotocol.h"

void ReplyAssembler::begin(char code)
{
    m_command = code;
    m_complete = false;
    m_begun = false;
    m_bytes.clear();
}

bool ReplyAssembler::expectsReply(char code)
{
    using namespace LoggerProtocol;
    return code == kIdentificationRequest || code == kDeviceIdRequest || code == kConfigReadRequest;
}

bool ReplyAssembler::feed(const QByteArray &delivery)
{
    using namespace LoggerProtocol;
    if (m_complete || !expectsReply(m_command) || delivery.isEmpty())
        return false;
    m_begun = true;

    if (m_command == kDeviceIdRequest) {
        const int end = delivery.indexOf('\0');
        const int room = kIdentifierMaxLength - m_bytes.size();
        m_bytes.append(delivery.left(end < 0 ? room : qMin(end, room)));
        m_complete = end >= 0 || m_bytes.size() == kIdentifierMaxLength;
        return true;
    }

    const int length = m_command == kIdentificationRequest ? kIdentificationLength : kConfigLength;
    m_bytes.append(delivery.left(length - m_bytes.size()));
    m_complete = m_bytes.size() == length;
    return true;
}
