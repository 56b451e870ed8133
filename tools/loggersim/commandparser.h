#pragma once

#include <QByteArray>
#include <QVector>

struct LoggerCommand
{
    enum Kind { IdentificationRequest, DeviceIdRequest, ConfigReadRequest, ConfigCommand, Unknown };

    Kind kind = Unknown;
    // The command exactly as received; for Unknown, the run of bytes that was skipped.
    QByteArray bytes;
};

// Cuts the host's byte stream into commands. The stream has no framing: the first byte of a
// command is its code and the code fixes its length. A configuration command that has only
// partly arrived is held until the rest comes. Bytes that start no command are reported as
// Unknown and skipped, up to the next byte that is a command code.
class LoggerCommandParser
{
public:
    QVector<LoggerCommand> feed(const QByteArray &bytes);
    void reset() { m_pending.clear(); }
    int pendingBytes() const { return m_pending.size(); }

private:
    QByteArray m_pending;
};
