#include "device/replyassembler.h"

#include "device/loggerprotocol.h"

#include <utility>

void ReplyAssembler::begin(char code)
{
    // A command without a reply in between keeps the reply before it.
    if (!m_delivered.isEmpty())
        m_before = std::exchange(m_delivered, QByteArray());
    m_command = code;
    m_complete = false;
    m_begun = false;
    m_bytes.clear();
    m_held.clear();
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

    QByteArray bytes = delivery;
    if (!m_begun && !m_before.isEmpty()) {
        m_held += delivery;
        while (m_held.startsWith(m_before))
            m_held.remove(0, m_before.size());
        if (m_before.startsWith(m_held))
            return false; // a copy, or its start
        bytes = std::exchange(m_held, QByteArray());
    }
    m_begun = true;
    m_delivered += bytes;

    if (m_command == kDeviceIdRequest) {
        const int end = bytes.indexOf('\0');
        const int room = kIdentifierMaxLength - m_bytes.size();
        m_bytes.append(bytes.left(end < 0 ? room : qMin(end, room)));
        m_complete = end >= 0 || m_bytes.size() == kIdentifierMaxLength;
        return true;
    }

    const int length = m_command == kIdentificationRequest ? kIdentificationLength : kConfigLength;
    m_bytes.append(bytes.left(length - m_bytes.size()));
    m_complete = m_bytes.size() == length;
    return true;
}
