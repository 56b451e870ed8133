#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QSerialPort;

/// Holds the next request back until the logger's line has settled: LoggerProtocol::kLineQuietMs
/// without a byte since the last one received on the port, or LoggerProtocol::kLineSettleBoundMs
/// of waiting on a line that keeps talking. Then drops all unread input and emits settled().
/// Whatever arrives meanwhile is read by the port's owner as before and must be ignored there.
class LineSettler : public QObject
{
    Q_OBJECT

public:
    explicit LineSettler(QSerialPort *port, QObject *parent = nullptr);

    /// Starts settling. On a line quiet for long enough (or just opened, with nothing received
    /// yet) the input is dropped and settled() emitted before this returns. Closing the port
    /// stops it without settled().
    void settle();
    bool isSettling() const { return m_settling; }

signals:
    void settled();

private:
    void check();

    QSerialPort *m_port;
    QElapsedTimer m_lastByte; // invalid until a byte arrives on the open port
    QElapsedTimer m_started;
    QTimer m_timer;
    bool m_settling = false;
};
