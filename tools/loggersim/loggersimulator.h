#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>

#include "commandparser.h"

#include "device/loggerprotocol.h"

class QSocketNotifier;
class QTimer;

// Ways in which the simulated logger misbehaves; the defaults give a well-behaved logger.
struct LoggerSimulatorOptions
{
    QByteArray deviceId = "TL-0001";
    QByteArray replugAs; // not empty: plugged in again, another logger, with this identifier
    int latencyMs = 0; // delay before every reply
    int slowRepliesMs = 0; // delay before the replies to the device-ID and configuration requests
    int splitPauseMs = -1; // >= 0: every reply goes out in two writes, this far apart
    int repeatAfterMs = -1; // >= 0: every reply goes out again, in a write this long after it
    QByteArray identificationCode = LoggerProtocol::kIdentificationCode; // set another to fail
    bool silent = false; // answer nothing at all
    int deafFor = 0; // > 0: the first this many requests go unanswered, as when a port opens
    int trailingBytes = 0; // extra bytes after every reply, in the same write
    bool badFields = false; // configuration reply with undecodable field values
    int truncateConfigReply = -1; // >= 0: configuration reply cut to this many bytes
    int floodIntervalMs = 0; // > 0: an unsolicited burst this often
    int floodBurstBytes = 16;
    int unplugAfterMs = 0; // > 0: unplug by itself this long after start()
    bool ignoreWrites = false; // configuration commands leave the settings as they were
    int corruptByte = -1; // >= 0: this byte of every configuration command is stored changed
    int faultyWrites = -1; // >= 0: only this many commands are ignored or changed, then none
    int storeDelayMs = 0; // a configuration command takes effect this long after it arrived
};

// A temperature logger behind a pseudo-terminal. The tool opens slavePath() as its serial port.
// The simulator keeps its own descriptor on the slave, so the tool can close and reopen the port
// without the line hanging up. unplug() closes both ends, as pulling the logger out does: a port
// the tool holds open fails at once, and the slave path disappears. replug() gives the logger a
// new line; its settings and its clock stay as they were.
class LoggerSimulator : public QObject
{
    Q_OBJECT

public:
    // Monotonic milliseconds; the logger's clock advances with it.
    using ElapsedSource = std::function<qint64()>;

    explicit LoggerSimulator(const LoggerSimulatorOptions &options = {}, QObject *parent = nullptr);
    ~LoggerSimulator() override;

    bool start();
    bool isRunning() const { return m_master >= 0; }
    QString errorString() const { return m_errorString; }
    QString slavePath() const { return m_slavePath; }
    const LoggerSimulatorOptions &options() const { return m_options; }

    // The last configuration command as received (code byte "1" included), or the power-up
    // settings.
    QByteArray storedConfig() const { return m_config; }
    QDateTime clock() const;
    void setClock(const QDateTime &wallClock);
    // The configuration reply as a healthy logger would send it now.
    QByteArray configReply() const;

    void setElapsedSource(ElapsedSource source);

public slots:
    void unplug();
    bool replug();

signals:
    // Every command from the host, and every run of bytes that starts none, with a one-line
    // decoding.
    void commandReceived(const QByteArray &bytes, const QString &description);
    // Everything put on the line: replies, or their parts, and flood bursts.
    void bytesSent(const QByteArray &bytes);
    void unplugged();

private:
    bool openLine();
    // Runs action after ms, unless the line it was meant for has been unplugged meanwhile.
    void onThisLine(int ms, std::function<void()> action);
    void readMaster();
    void handle(const LoggerCommand &command);
    void store(QByteArray config);
    void reply(QByteArray bytes, int latencyMs);
    void send(const QByteArray &bytes);
    void writeMaster(const QByteArray &bytes);
    QByteArray faultyConfigReply() const;
    void closeFds();

    LoggerSimulatorOptions m_options;
    int m_master = -1;
    int m_slave = -1;
    int m_lines = 0; // lines opened so far; the current one is the last
    QString m_slavePath;
    QString m_errorString;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_floodTimer = nullptr;
    LoggerCommandParser m_parser;

    QByteArray m_config;
    int m_writesTaken = 0;
    QElapsedTimer m_uptime;
    ElapsedSource m_elapsed;
    QDateTime m_clockBase;
    qint64 m_clockBaseElapsed = 0;
};
