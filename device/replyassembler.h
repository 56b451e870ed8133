#pragma once

#include <QByteArray>

/// Collects the logger's reply to the command written last. The serial line has no framing and
/// a reply may come in several deliveries, so each kind of reply has its own end:
///   identification request "3"  complete at 8 bytes
///   device-ID request "2"       complete at its 0x00 byte (the text before it is the reply), or
///                               at 64 bytes (a logger that never ends it)
///   configuration read "0"      complete at 37 bytes
///   configuration command "1"   no reply; everything is ignored
/// Bytes after a complete reply are ignored until the next command starts a new one. A reply may
/// come twice (firmware that repeats it after a lost acknowledgement): whole copies of the reply
/// before, as it was delivered, that come ahead of the next reply are dropped.
class ReplyAssembler
{
public:
    /// Starts a new reply for the command whose first byte is code.
    void begin(char code);
    /// Ends the reply, complete or not: everything is ignored until the next begin().
    void end() { begin('\0'); }
    /// Forgets the replies before, for a line just opened.
    void reset() { *this = ReplyAssembler(); }

    /// Takes one delivery. Returns true when this delivery added bytes to the reply.
    bool feed(const QByteArray &delivery);

    char command() const { return m_command; }
    bool isComplete() const { return m_complete; }
    /// True once any byte of the reply has arrived.
    bool hasBegun() const { return m_begun; }
    const QByteArray &bytes() const { return m_bytes; }

    /// True for the command codes that expect a reply assembled here.
    static bool expectsReply(char code);

private:
    char m_command = '\0';
    bool m_complete = false;
    bool m_begun = false;
    QByteArray m_bytes;
    QByteArray m_delivered; // the deliveries that made up the reply, extra bytes and all
    QByteArray m_before; // the reply before, as delivered, until this one has begun
    QByteArray m_held; // the start of a delivery that may yet be a copy of m_before
};
