#include "device/loggerlink.h"

#include "device/configcommand.h"
#include "device/loggerports.h"
#include "device/loggerprotocol.h"

namespace {
// The configuration reply has no bound in the window, which waits for it as long as it is
// connected; 37 bytes at 230400 baud take under 2 ms, so a second is generous, unless the
// logger was given longer to answer.
constexpr int kConfigReplyTimeoutMs = 1000;
} // namespace

LoggerLink::LoggerLink(const QSerialPortInfo &port, QObject *parent)
    : LoggerLink(port.systemLocation(), parent)
{
    m_serialNumber = port.serialNumber();
}

LoggerLink::LoggerLink(const QString &nameOrLocation, QObject *parent)
    : QObject(parent)
    , m_location(portLocation(nameOrLocation))
    , m_settler(&m_port)
    , m_replyTimeoutMs(LoggerProtocol::kReplyTimeoutMs)
{
    configureLoggerPort(m_port, m_location);
    for (QTimer *timer : {&m_bound, &m_quiet}) {
        // Precise timers: a coarse one may end a bound up to 5 % early.
        timer->setTimerType(Qt::PreciseTimer);
        timer->setSingleShot(true);
    }
    connect(&m_bound, &QTimer::timeout, this, &LoggerLink::boundPassed);
    connect(&m_quiet, &QTimer::timeout, this, &LoggerLink::replyComplete);
    connect(&m_port, &QSerialPort::readyRead, this, &LoggerLink::received);
    connect(&m_settler, &LineSettler::settled, this, &LoggerLink::sendPending);
    connect(&m_port, &QSerialPort::bytesWritten, this, [this] {
        if (m_step == Step::Write && m_port.bytesToWrite() == 0) {
            m_written = true;
            m_bound.stop();
            emit commandWritten();
            next();
        }
    });
    connect(&m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        // Errors of open() are judged where it is called; these come from a lost line.
        const bool lineLost = error == QSerialPort::ReadError || error == QSerialPort::ResourceError
            || error == QSerialPort::WriteError;
        if (m_step == Step::Idle || !lineLost)
            return;
        m_lineLost = true;
        if (m_step == Step::Done) {
            if (m_port.isOpen()) {
                m_port.close();
                emit lost();
            }
            return;
        }
        // A read that ends is a line hung up, as when the logger is pulled out; Qt then names
        // whatever error came before, not this one.
        if (error == QSerialPort::ReadError)
            fail(tr("the line ended: the logger was unplugged or failed"));
        else
            fail(tr("port error: %1").arg(m_port.errorString()));
    });
}

void LoggerLink::identify()
{
    start();
}

void LoggerLink::read()
{
    m_reading = true;
    start();
}

void LoggerLink::write(const LoggerConfig &config, bool readBack)
{
    m_config = config;
    m_writing = true;
    m_reading = readBack;
    start();
}

void LoggerLink::start()
{
    if (!m_port.open(QIODevice::ReadWrite)) {
        fail(tr("cannot open the port: %1").arg(m_port.errorString()));
        return;
    }
    m_opened = true;
    request(Step::Identify, LoggerProtocol::kIdentificationRequest, m_replyTimeoutMs);
}

void LoggerLink::request(Step step, char code, int boundMs)
{
    send(step, QByteArray(1, code), boundMs);
}

void LoggerLink::writeCommand()
{
    m_command = configurationCommand(m_config, QDateTime::currentDateTime());
    if (m_command.isEmpty()) {
        fail(tr("the alarm limits are not usable"));
        return;
    }
    send(Step::Write, m_command, LoggerProtocol::kWriteTimeoutMs);
}

void LoggerLink::send(Step step, const QByteArray &command, int boundMs)
{
    m_step = step;
    // What comes from here on belongs to an earlier reply (a late or repeated one), not to the
    // start of this one, until the command has gone out.
    m_assembler.end();
    m_quiet.stop();
    m_pending = command;
    m_pendingBoundMs = boundMs;
    // Only a request's answer could be misread; bytes after the configuration command are
    // ignored anyway, and the read-back request settles the line again.
    if (ReplyAssembler::expectsReply(command.at(0)))
        m_settler.settle();
    else
        sendPending();
}

void LoggerLink::sendPending()
{
    if (m_step == Step::Done)
        return;
    m_assembler.begin(m_pending.at(0));
    if (m_port.write(m_pending) != m_pending.size()) {
        fail(tr("cannot write to the port: %1").arg(m_port.errorString()));
        return;
    }
    m_bound.start(m_pendingBoundMs);
}

void LoggerLink::received()
{
    if (m_step == Step::Done) {
        m_port.readAll(); // a held port: nothing more is asked of the logger
        return;
    }
    if (!m_assembler.feed(m_port.readAll()))
        return;
    if (m_assembler.isComplete())
        replyComplete();
    else if (m_step == Step::Identifier)
        // The identifier's closing 0x00 byte is optional: once it has begun, silence ends it.
        m_quiet.start(LoggerProtocol::kIdentifierQuietMs);
}

void LoggerLink::replyComplete()
{
    m_bound.stop();
    m_quiet.stop();
    switch (m_step) {
    case Step::Identify:
        if (m_assembler.bytes() != LoggerProtocol::kIdentificationCode) {
            fail(tr("wrong identification answer \"%1\"")
                     .arg(QString::fromLatin1(m_assembler.bytes().toPercentEncoding())));
            return;
        }
        m_identified = true;
        break;
    case Step::Identifier:
        m_deviceId = m_assembler.bytes();
        break;
    case Step::Read:
        m_reply = decodeConfigurationReply(m_assembler.bytes());
        m_replyTime = QDateTime::currentDateTimeUtc();
        break;
    default:
        return;
    }
    next();
}

void LoggerLink::boundPassed()
{
    m_timedOut = m_step == Step::Identify || m_step == Step::Read
        || (m_step == Step::Identifier && !m_assembler.hasBegun());
    switch (m_step) {
    case Step::Identify:
        fail(tr("no identification answer within %1 ms").arg(m_replyTimeoutMs));
        break;
    case Step::Identifier:
        if (m_assembler.hasBegun())
            replyComplete();
        else
            fail(tr("no device identifier within %1 ms").arg(m_replyTimeoutMs));
        break;
    case Step::Write:
        fail(tr("the command had not left the port after %1 ms")
                 .arg(LoggerProtocol::kWriteTimeoutMs));
        break;
    case Step::Settle:
        next();
        break;
    case Step::Read:
        fail(tr("no complete configuration reply within %1 ms (%2 of %3 bytes)")
                 .arg(configReplyTimeout())
                 .arg(m_assembler.bytes().size())
                 .arg(LoggerProtocol::kConfigLength));
        break;
    default:
        break;
    }
}

void LoggerLink::next()
{
    using namespace LoggerProtocol;
    if (m_step == Step::Identify) {
        request(Step::Identifier, kDeviceIdRequest, m_replyTimeoutMs);
    } else if (m_step == Step::Identifier && m_writing) {
        m_refused = m_accept && !m_accept(m_deviceId);
        if (m_refused)
            finish();
        else
            writeCommand();
    } else if (m_step == Step::Write && m_reading && m_settleMs > 0) {
        m_step = Step::Settle;
        m_bound.start(m_settleMs);
    } else if (m_step != Step::Read && m_reading) {
        request(Step::Read, kConfigReadRequest, configReplyTimeout());
    } else {
        finish();
    }
}

void LoggerLink::fail(const QString &reason)
{
    if (m_step == Step::Done)
        return;
    m_failure = reason;
    finish();
}

void LoggerLink::finish()
{
    if (m_step == Step::Done)
        return;
    m_step = Step::Done;
    m_bound.stop();
    m_quiet.stop();
    if (!m_hold || m_lineLost)
        m_port.close();
    QTimer::singleShot(0, this, &LoggerLink::finished);
}

void LoggerLink::release()
{
    m_hold = false;
    if (m_step == Step::Done)
        m_port.close();
}

int LoggerLink::configReplyTimeout() const
{
    return qMax(kConfigReplyTimeoutMs, m_replyTimeoutMs);
}
