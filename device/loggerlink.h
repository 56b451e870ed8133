#pragma once

#include "device/configreply.h"
#include "device/linesettler.h"
#include "device/loggerconfig.h"
#include "device/replyassembler.h"

#include <QDateTime>
#include <QObject>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTimer>

#include <functional>
#include <optional>

/// One conversation with one logger, driven by its port's signals and by timers, never by a
/// wait: open the port, identify ("3"), ask the identifier ("2"), then read the configuration
/// ("0"), or write one ("1") and read it back. A request goes out once the line has settled
/// (LineSettler, itself bounded). Every step has its bound, counted from its command; the first
/// step that fails ends the conversation. finished() comes once, from the event loop, with the
/// port closed, unless it is held.
class LoggerLink : public QObject
{
    Q_OBJECT

public:
    explicit LoggerLink(const QSerialPortInfo &port, QObject *parent = nullptr);
    /// The port of that name or system location, whether or not the system lists it.
    explicit LoggerLink(const QString &nameOrLocation, QObject *parent = nullptr);

    /// Opens the port, identifies the logger and asks its identifier.
    void identify();
    /// identify(), then reads the configuration.
    void read();
    /// identify(), then writes config with the current time of its zone and, with readBack,
    /// reads the configuration back.
    void write(const LoggerConfig &config, bool readBack);
    /// Before write() starts: the pause between the command's last byte leaving the port and
    /// the read-back, for a logger that takes a while to store its settings.
    void setSettle(int ms) { m_settleMs = ms; }
    /// Before write() starts: a logger whose identifier accept refuses is not written; it ends
    /// with refused() true.
    void setAcceptance(std::function<bool(const QByteArray &deviceId)> accept)
    {
        m_accept = std::move(accept);
    }
    /// Before the conversation starts: the bound of the identification answer, the identifier
    /// and the configuration read, for a logger slower than the window waits for.
    void setReplyTimeout(int ms) { m_replyTimeoutMs = ms; }
    /// Before the conversation starts: once it has ended, the port stays open (what comes in is
    /// dropped) until release(), so that the logger's unplugging, however brief, is noticed:
    /// lost() comes when the line ends. Not for a line that was lost already.
    void setHoldPort(bool hold) { m_hold = hold; }
    /// Closes a held port.
    void release();
    /// Ends the conversation now, closing the port, with reason as its failure.
    void abort(const QString &reason) { fail(reason); }

    /// The port's name ("ttyACM0", "COM5"), system location and USB serial number (empty for a
    /// port the system does not list).
    QString portName() const { return m_port.portName(); }
    const QString &location() const { return m_location; }
    const QString &serialNumber() const { return m_serialNumber; }
    /// True once the port has been opened; a port that would not open may have been unplugged.
    bool opened() const { return m_opened; }
    bool identified() const { return m_identified; }
    const QByteArray &deviceId() const { return m_deviceId; }
    /// The configuration command built for write(), empty before.
    const QByteArray &command() const { return m_command; }
    bool refused() const { return m_refused; }
    /// True once every byte of the command has left the port.
    bool written() const { return m_written; }
    /// The configuration read, or read back, and the moment it was complete.
    const std::optional<ConfigurationReply> &reply() const { return m_reply; }
    const QDateTime &replyTime() const { return m_replyTime; }
    /// What went wrong, empty when every step succeeded.
    const QString &failure() const { return m_failure; }
    /// True when the failure was a reply that did not come within its bound.
    bool timedOut() const { return m_timedOut; }
    /// True once the line ended while the port was open: the logger was pulled out, or failed.
    bool lineLost() const { return m_lineLost; }
    /// True while the port is held after the conversation.
    bool holding() const { return m_step == Step::Done && m_port.isOpen(); }

signals:
    /// The configuration command has left the port; the read-back follows, when asked for.
    void commandWritten();
    void finished();
    /// The line of a held port ended.
    void lost();

private:
    enum class Step { Idle, Identify, Identifier, Write, Settle, Read, Done };

    void start();
    void request(Step step, char code, int boundMs);
    void writeCommand();
    void send(Step step, const QByteArray &command, int boundMs);
    void sendPending();
    void received();
    void replyComplete();
    void boundPassed();
    void next();
    void fail(const QString &reason);
    void finish();
    int configReplyTimeout() const;

    QString m_location;
    QString m_serialNumber;
    QSerialPort m_port;
    LineSettler m_settler;
    QTimer m_bound;
    QTimer m_quiet;
    ReplyAssembler m_assembler;
    Step m_step = Step::Idle;
    bool m_writing = false;
    bool m_reading = false;
    LoggerConfig m_config;
    QByteArray m_pending; // the command of the step, sent once the line has settled
    int m_pendingBoundMs = 0;
    int m_settleMs = 0;
    int m_replyTimeoutMs;
    bool m_hold = false;
    std::function<bool(const QByteArray &)> m_accept;

    bool m_opened = false;
    bool m_identified = false;
    QByteArray m_deviceId;
    bool m_refused = false;
    QByteArray m_command;
    bool m_written = false;
    std::optional<ConfigurationReply> m_reply;
    QDateTime m_replyTime;
    QString m_failure;
    bool m_timedOut = false;
    bool m_lineLost = false;
};
