#include "loggersimulator.h"

#include "loggerconfig.h"

#include "device/loggerprotocol.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace LoggerSimConfig;

namespace {

constexpr qint64 kZoneOffsetSecs = 5 * 3600 + 30 * 60; // power-up zone, UTC+05:30
constexpr char kTrailingByte = '~';
constexpr char kFloodByte = '#';

void replaceField(QByteArray &config, Field f, const char *value)
{
    config.replace(f.offset, f.length, QByteArray(value, f.length));
}

} // namespace

LoggerSimulator::LoggerSimulator(const LoggerSimulatorOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
{
    m_uptime.start();
    m_elapsed = [this] { return m_uptime.elapsed(); };
    setClock(QDateTime::currentDateTimeUtc().addSecs(kZoneOffsetSecs));
    m_config = defaultConfig(clock());
}

LoggerSimulator::~LoggerSimulator()
{
    closeFds();
}

bool LoggerSimulator::start()
{
    if (isRunning())
        return true;
    if (!openLine())
        return false;
    if (m_options.unplugAfterMs > 0)
        QTimer::singleShot(m_options.unplugAfterMs, this, &LoggerSimulator::unplug);
    return true;
}

bool LoggerSimulator::replug()
{
    if (isRunning())
        return true;
    // A command cut off by the unplug does not continue on the new line.
    m_parser.reset();
    if (!m_options.replugAs.isEmpty())
        m_options.deviceId = m_options.replugAs;
    return openLine();
}

bool LoggerSimulator::openLine()
{
    const auto fail = [this](const char *step) {
        m_errorString = QStringLiteral("%1: %2").arg(QLatin1String(step),
                                                     QString::fromLocal8Bit(std::strerror(errno)));
        closeFds();
        return false;
    };

    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail("posix_openpt");
    if (grantpt(m_master) != 0)
        return fail("grantpt");
    if (unlockpt(m_master) != 0)
        return fail("unlockpt");
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0)
        return fail("ptsname_r");
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);

    // Our own descriptor on the slave: without it, the tool closing the port would hang up the
    // line and the master would read EIO until the port is opened again.
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0)
        return fail("open slave");
    termios tio {};
    if (tcgetattr(m_slave, &tio) != 0)
        return fail("tcgetattr");
    cfmakeraw(&tio);
    cfsetispeed(&tio, B230400);
    cfsetospeed(&tio, B230400);
    if (tcsetattr(m_slave, TCSANOW, &tio) != 0)
        return fail("tcsetattr");
    m_slavePath = QString::fromLocal8Bit(name);

    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &LoggerSimulator::readMaster);

    if (m_options.floodIntervalMs > 0) {
        m_floodTimer = new QTimer(this);
        m_floodTimer->setInterval(m_options.floodIntervalMs);
        connect(m_floodTimer, &QTimer::timeout, this,
                [this] { writeMaster(QByteArray(m_options.floodBurstBytes, kFloodByte)); });
        m_floodTimer->start();
    }
    ++m_lines;
    return true;
}

void LoggerSimulator::onThisLine(int ms, std::function<void()> action)
{
    // A reply still to come when the logger is pulled out is lost with its power.
    const int line = m_lines;
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this, line, action] {
        if (line == m_lines && isRunning())
            action();
    });
}

QDateTime LoggerSimulator::clock() const
{
    return m_clockBase.addMSecs(m_elapsed() - m_clockBaseElapsed);
}

void LoggerSimulator::setClock(const QDateTime &wallClock)
{
    m_clockBase = wallClock;
    m_clockBase.setTimeSpec(Qt::UTC);
    m_clockBaseElapsed = m_elapsed();
}

void LoggerSimulator::setElapsedSource(ElapsedSource source)
{
    const QDateTime now = clock();
    m_elapsed = std::move(source);
    setClock(now);
}

QByteArray LoggerSimulator::configReply() const
{
    QByteArray reply = m_config;
    reply[0] = LoggerProtocol::kConfigReadRequest;
    reply.replace(kClock.offset, kClock.length, encodeClock(clock()));
    return reply;
}

void LoggerSimulator::unplug()
{
    if (!isRunning())
        return;
    closeFds();
    emit unplugged();
}

void LoggerSimulator::readMaster()
{
    char buffer[4096];
    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        // Cannot happen while we hold the slave open; do not spin on it if it does.
        qWarning("loggersim: master read failed: %s", std::strerror(errno));
        m_notifier->setEnabled(false);
        return;
    }
    const auto commands = m_parser.feed(QByteArray(buffer, static_cast<int>(n)));
    for (const LoggerCommand &command : commands)
        handle(command);
}

void LoggerSimulator::handle(const LoggerCommand &command)
{
    emit commandReceived(command.bytes, describe(command));
    switch (command.kind) {
    case LoggerCommand::IdentificationRequest:
        reply(m_options.identificationCode, m_options.latencyMs);
        break;
    case LoggerCommand::DeviceIdRequest:
        reply(m_options.deviceId + '\0', m_options.latencyMs + m_options.slowRepliesMs);
        break;
    case LoggerCommand::ConfigReadRequest:
        reply(faultyConfigReply(), m_options.latencyMs + m_options.slowRepliesMs);
        break;
    case LoggerCommand::ConfigCommand:
        if (m_options.storeDelayMs > 0)
            QTimer::singleShot(m_options.storeDelayMs, this,
                               [this, bytes = command.bytes] { store(bytes); });
        else
            store(command.bytes);
        break;
    case LoggerCommand::Unknown:
        break;
    }
}

void LoggerSimulator::store(QByteArray config)
{
    const bool faulty = m_options.faultyWrites < 0 || m_writesTaken++ < m_options.faultyWrites;
    if (m_options.ignoreWrites && faulty)
        return;
    // Another digit of the same field: '0' <-> '1', '4' <-> '5' and so on.
    if (m_options.corruptByte >= 0 && faulty)
        config[m_options.corruptByte] = char(config.at(m_options.corruptByte) ^ 1);
    m_config = config;
    // A clock that is no date keeps the old one running; the settings are taken anyway.
    const QDateTime commanded = decodeClock(field(m_config, kClock));
    if (commanded.isValid())
        setClock(commanded);
}

QByteArray LoggerSimulator::faultyConfigReply() const
{
    QByteArray bytes = configReply();
    if (m_options.badFields) {
        replaceField(bytes, kScale, "x");
        replaceField(bytes, kAlarm, "7");
        replaceField(bytes, kUpper, "abc");
        replaceField(bytes, kLower, "abc");
        replaceField(bytes, kDelayMinutes, "77");
        replaceField(bytes, kIntervalMinutes, "77");
        replaceField(bytes, kFileType, "x");
        replaceField(bytes, kZone, "+9999");
    }
    if (m_options.truncateConfigReply >= 0)
        bytes.truncate(m_options.truncateConfigReply);
    return bytes;
}

void LoggerSimulator::reply(QByteArray bytes, int latencyMs)
{
    if (m_options.silent)
        return;
    if (m_options.deafFor > 0) {
        --m_options.deafFor;
        return;
    }
    bytes.append(QByteArray(m_options.trailingBytes, kTrailingByte));
    const auto answer = [this, bytes] {
        send(bytes);
        if (m_options.repeatAfterMs >= 0)
            onThisLine(m_options.repeatAfterMs, [this, bytes] { send(bytes); });
    };
    if (latencyMs > 0)
        onThisLine(latencyMs, answer);
    else
        answer();
}

void LoggerSimulator::send(const QByteArray &bytes)
{
    if (m_options.splitPauseMs < 0 || bytes.size() < 2) {
        writeMaster(bytes);
        return;
    }
    const int half = bytes.size() / 2;
    writeMaster(bytes.left(half));
    const QByteArray rest = bytes.mid(half);
    onThisLine(m_options.splitPauseMs, [this, rest] { writeMaster(rest); });
}

void LoggerSimulator::writeMaster(const QByteArray &bytes)
{
    if (!isRunning())
        return;
    // One write per delivery. When nobody drains the line (the flood with the port closed) the
    // pty buffer fills up and the rest is dropped, as a device's USB buffer would overflow.
    const ssize_t n = ::write(m_master, bytes.constData(), static_cast<size_t>(bytes.size()));
    if (n > 0)
        emit bytesSent(bytes.left(static_cast<int>(n)));
}

void LoggerSimulator::closeFds()
{
    delete m_notifier;
    m_notifier = nullptr;
    delete m_floodTimer;
    m_floodTimer = nullptr;
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = m_master = -1;
}
