#include "commands.h"

#include "audit.h"
#include "profile.h"

#include "device/configreply.h"
#include "device/loggerlink.h"
#include "device/loggerports.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSet>
#include <QTimeZone>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

// A verified clock is within this many seconds of the current time of the zone written.
constexpr int kClockToleranceSecs = 2;
// Qt tells of no plugging in, so provision looks at the port list this often.
constexpr int kScanIntervalMs = 300;
// A failed attempt is tried again after this pause, which lets a logger that was busy or had
// a burst of noise on its line settle.
constexpr int kRetryPauseMs = 200;
// The audit lines of attempts that end within this long of each other (loggers written at the
// same time) go out under one lock of the record, whose lock file is flushed to the disk each
// time; all are written before the program ends.
constexpr int kRecordBatchMs = 50;

// QLocale::c(): QDateTime::toString writes the system locale's digits.
QString timeText(const QDateTime &time)
{
    return QLocale::c().toString(time, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// The logger's clock minus the current time of zone, in whole seconds.
std::optional<qint64> clockOffset(const QByteArray &clock, const QString &zone,
                                  const QDateTime &now)
{
    const QDateTime device = deviceClockTime(clock);
    const QTimeZone timeZone(zone.toLatin1());
    if (!device.isValid() || !timeZone.isValid())
        return std::nullopt;
    const QDateTime wall = now.toTimeZone(timeZone);
    const QTime seconds(wall.time().hour(), wall.time().minute(), wall.time().second());
    return QDateTime(wall.date(), seconds, Qt::UTC).secsTo(device);
}

QList<QSerialPortInfo> loggerPorts()
{
    QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    ports.erase(std::remove_if(ports.begin(), ports.end(),
                               [](const QSerialPortInfo &port) { return !isLoggerPort(port); }),
                ports.end());
    return ports;
}

// A port named on the command line, as the system lists it whatever its USB identifiers.
std::optional<QSerialPortInfo> listedPort(const QString &name)
{
    const QString location = portLocation(name);
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        if (port.portName() == name || port.systemLocation() == location)
            return port;
    return std::nullopt;
}

QString device(const LoggerLink &link)
{
    return link.deviceId().isEmpty() ? QStringLiteral("-") : QString::fromUtf8(link.deviceId());
}

QJsonObject portResult(const LoggerLink &link)
{
    return {{QStringLiteral("port"), link.portName()},
            {QStringLiteral("location"), link.location()},
            {QStringLiteral("device"), QString::fromUtf8(link.deviceId())}};
}

// What the write came to: refused, not written, written, unverified, verified, or a mismatch
// with the written and read-back value of each field that differs.
QJsonObject writeOutcome(const LoggerLink &link, const LoggerConfig &config, bool verify)
{
    if (link.refused())
        return {{QStringLiteral("outcome"), QStringLiteral("refused")},
                {QStringLiteral("reason"), QStringLiteral("not on the expected list")}};
    if (!link.written())
        return {{QStringLiteral("outcome"), QStringLiteral("not written")},
                {QStringLiteral("reason"), link.failure()}};
    if (!verify)
        return {{QStringLiteral("outcome"), QStringLiteral("written")}};
    if (!link.reply())
        return {{QStringLiteral("outcome"), QStringLiteral("unverified")},
                {QStringLiteral("reason"), link.failure()}};
    QList<Profile::Difference> differences = Profile::differences(config, link.reply()->config);
    const QByteArray &clock = link.reply()->clock;
    const auto offset = clockOffset(clock, config.zone, link.replyTime());
    if (!offset || qAbs(*offset) > kClockToleranceSecs)
        differences.append(
            {QStringLiteral("clock"),
             deviceTimeText(link.command().mid(ConfigLayout::kClock, ConfigLayout::kClockLength)),
             deviceTimeText(clock)});
    if (differences.isEmpty())
        return {{QStringLiteral("outcome"), QStringLiteral("verified")}};
    QJsonArray fields;
    QJsonArray values;
    for (const Profile::Difference &difference : qAsConst(differences)) {
        fields.append(difference.key);
        values.append(QJsonObject {{QStringLiteral("field"), difference.key},
                                   {QStringLiteral("written"), difference.written},
                                   {QStringLiteral("read"), difference.read}});
    }
    return {{QStringLiteral("outcome"), QStringLiteral("mismatch")},
            {QStringLiteral("fields"), fields},
            {QStringLiteral("differences"), values}};
}

// The outcome as the line for people shows it after the port and the device.
QString outcomeText(const QJsonObject &record)
{
    QString text = record.value(QStringLiteral("outcome")).toString();
    QStringList details;
    for (const QJsonValue &value : record.value(QStringLiteral("differences")).toArray()) {
        const QJsonObject difference = value.toObject();
        details.append(QStringLiteral("%1 %2 written, %3 read back")
                           .arg(difference.value(QStringLiteral("field")).toString(),
                                Profile::shortText(difference.value(QStringLiteral("written"))),
                                Profile::shortText(difference.value(QStringLiteral("read")))));
    }
    if (record.contains(QStringLiteral("reason")))
        details.append(record.value(QStringLiteral("reason")).toString());
    if (!details.isEmpty())
        text += QStringLiteral(": ") + details.join(QLatin1String("; "));
    return text;
}

void printTable(const QList<QStringList> &rows)
{
    QVector<int> widths(rows.first().size());
    for (const QStringList &row : rows)
        for (int column = 0; column < row.size(); ++column)
            widths[column] = qMax(widths[column], row[column].size() + 2);
    for (const QStringList &row : rows) {
        QString line;
        for (int column = 0; column < row.size(); ++column)
            line += row[column].leftJustified(widths[column]);
        standardOutput() << line.trimmed() << Qt::endl;
    }
}

} // namespace

QTextStream &standardOutput()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &standardError()
{
    static QTextStream stream(stderr);
    return stream;
}

Commands::Commands(bool json, QObject *parent)
    : QObject(parent)
    , m_json(json)
{ }

QList<Commands::Target> Commands::chooseLoggers(const PortChoice &choice)
{
    if (!choice.name.isEmpty()) {
        // A port named is taken whatever the system says of it: Wine's ports, some drivers and
        // some adapters show no USB identifiers, or are not listed at all. The identification
        // answer decides whether a logger is there.
        return {{listedPort(choice.name), choice.name}};
    }
    const QList<QSerialPortInfo> ports = loggerPorts();
    if (ports.isEmpty()) {
        standardError() << "tempyra-cli: no logger is plugged in" << Qt::endl;
        m_exitCode = kExitFailed;
        return {};
    }
    if (ports.size() > 1 && !choice.all) {
        standardError() << "tempyra-cli: " << ports.size()
                        << " loggers are plugged in; choose one with --port, or take all with "
                           "--all:"
                        << Qt::endl;
        for (const QSerialPortInfo &port : ports)
            standardError() << "  " << port.portName() << Qt::endl;
        m_exitCode = kExitUsage;
        return {};
    }
    QList<Target> targets;
    for (const QSerialPortInfo &port : ports)
        targets.append({port, port.portName()});
    return targets;
}

LoggerLink *Commands::startLink(const Target &target)
{
    auto *link
        = target.listed ? new LoggerLink(*target.listed, this) : new LoggerLink(target.name, this);
    m_links.insert(link);
    connect(link, &LoggerLink::finished, this, [this, link, target] { linkDone(link, target); });
    return link;
}

void Commands::list()
{
    m_report = [this](const LoggerLink &link) {
        QJsonObject result = portResult(link);
        result[QStringLiteral("serialNumber")] = link.serialNumber();
        result[QStringLiteral("answered")] = link.identified();
        if (!link.failure().isEmpty())
            standardError() << link.portName() << ": " << link.failure() << Qt::endl;
        m_results.append(result);
    };
    m_printText = [this] {
        if (m_results.isEmpty())
            return;
        QList<QStringList> rows {{QStringLiteral("PORT"), QStringLiteral("LOCATION"),
                                  QStringLiteral("SERIAL"), QStringLiteral("ANSWERED"),
                                  QStringLiteral("DEVICE")}};
        for (const QJsonObject &result : qAsConst(m_results)) {
            const QString id = result.value(QStringLiteral("device")).toString();
            rows.append(
                {result.value(QStringLiteral("port")).toString(),
                 result.value(QStringLiteral("location")).toString(),
                 result.value(QStringLiteral("serialNumber")).toString(),
                 QLatin1String(result.value(QStringLiteral("answered")).toBool() ? "yes" : "no"),
                 id.isEmpty() ? QStringLiteral("-") : id});
        }
        printTable(rows);
    };
    const QList<QSerialPortInfo> ports = loggerPorts();
    if (ports.isEmpty())
        standardError() << "tempyra-cli: no port with the logger's USB identifiers" << Qt::endl;
    for (const QSerialPortInfo &port : ports) {
        ++m_running;
        startLink({port, port.portName()})->identify();
    }
    if (m_running == 0)
        end();
}

void Commands::read(const PortChoice &choice)
{
    m_oneObject = !choice.all;
    m_report = [this](const LoggerLink &link) {
        QJsonObject result = portResult(link);
        if (!link.reply()) {
            result[QStringLiteral("error")] = link.failure();
            m_exitCode = kExitFailed;
        } else {
            const ConfigurationReply &reply = *link.reply();
            result[QStringLiteral("configuration")] = Profile::fromConfig(reply.config);
            result[QStringLiteral("clock")] = deviceTimeText(reply.clock);
            const auto offset = clockOffset(reply.clock, reply.config.zone, link.replyTime());
            result[QStringLiteral("clockOffset")]
                = offset ? QJsonValue(double(*offset)) : QJsonValue(QJsonValue::Null);
        }
        m_results.append(result);
    };
    m_printText = [this] {
        for (const QJsonObject &result : qAsConst(m_results)) {
            const QString id = result.value(QStringLiteral("device")).toString();
            standardOutput() << result.value(QStringLiteral("port")).toString() << ' '
                             << (id.isEmpty() ? QStringLiteral("-") : id) << Qt::endl;
            if (result.contains(QStringLiteral("error"))) {
                standardOutput() << "  not read: "
                                 << result.value(QStringLiteral("error")).toString() << Qt::endl;
                continue;
            }
            const QJsonObject profile = result.value(QStringLiteral("configuration")).toObject();
            for (const QString &key : Profile::keys())
                standardOutput() << "  " << key.leftJustified(14)
                                 << Profile::shortText(Profile::value(profile, key)) << Qt::endl;
            const QJsonValue offset = result.value(QStringLiteral("clockOffset"));
            standardOutput() << "  " << QStringLiteral("clock").leftJustified(14)
                             << result.value(QStringLiteral("clock")).toString() << ", "
                             << (offset.isNull() ? QStringLiteral("?") : Profile::shortText(offset))
                             << " s from the current time of its zone" << Qt::endl;
        }
    };
    for (const Target &target : chooseLoggers(choice)) {
        ++m_running;
        startLink(target)->read();
    }
    if (m_running == 0)
        end();
}

void Commands::write(const WriteOptions &options, const PortChoice &choice)
{
    m_writing = true;
    m_options = options;
    m_session.expect(options.expected);
    for (const Target &target : chooseLoggers(choice)) {
        ++m_running;
        startWrite(target, 1);
    }
    if (m_running == 0)
        end();
}

void Commands::provision(const WriteOptions &options, const QString &portName)
{
    m_writing = true;
    m_options = options;
    m_session.expect(options.expected);
    m_portName = portName;
    m_scan = new QTimer(this);
    connect(m_scan, &QTimer::timeout, this, &Commands::scanForNewLoggers);
    m_scan->start(kScanIntervalMs);
    standardError() << "tempyra-cli: waiting for loggers; Ctrl-C ends" << Qt::endl;
    scanForNewLoggers();
}

void Commands::scanForNewLoggers()
{
    QList<QSerialPortInfo> ports;
    if (m_portName.isEmpty()) {
        ports = loggerPorts();
    } else if (const std::optional<QSerialPortInfo> listed = listedPort(m_portName)) {
        ports = {*listed};
        m_portListed = true;
    } else if (!m_portListed) {
        // A port the system has never listed cannot be watched for plugging in: its logger is
        // taken once, when the station starts. One it listed before has been unplugged.
        if (!m_unlistedPortTaken) {
            ++m_running;
            startWrite({std::nullopt, m_portName}, 1);
        }
        m_unlistedPortTaken = true;
        return;
    }
    QSet<QString> present;
    for (const QSerialPortInfo &port : qAsConst(ports)) {
        present.insert(port.portName());
        if (!m_seen.contains(port.portName())) {
            m_seen.insert(port.portName(), true);
            ++m_running;
            startWrite({port, port.portName()}, 1);
        }
    }
    // A logger unplugged is forgotten, so that plugging it in again provisions it again.
    for (auto it = m_seen.begin(); it != m_seen.end();)
        it = !it.value() && !present.contains(it.key()) ? m_seen.erase(it) : std::next(it);
}

void Commands::startWrite(const Target &target, int attempt)
{
    LoggerLink *link = startLink(target);
    m_attempts.insert(link, attempt);
    link->setSettle(m_options.settleMs);
    if (!m_options.expected.isEmpty())
        link->setAcceptance([this](const QByteArray &deviceId) {
            return m_session.isExpected(QString::fromUtf8(deviceId));
        });
    link->write(m_options.config, m_options.verify);
}

bool Commands::writeDone(const LoggerLink &link, const Target &target, int attempt)
{
    QJsonObject record = portResult(link);
    record[QStringLiteral("attempt")] = attempt;
    if (!link.refused())
        record[QStringLiteral("configuration")] = Profile::fromConfig(m_options.config);
    if (!link.command().isEmpty())
        record[QStringLiteral("clock")]
            = deviceTimeText(link.command().mid(ConfigLayout::kClock, ConfigLayout::kClockLength));
    const QJsonObject outcome = writeOutcome(link, m_options.config, m_options.verify);
    for (auto it = outcome.begin(); it != outcome.end(); ++it)
        record.insert(it.key(), it.value());
    Audit::stamp(record, m_options.operatorName);
    const Session::Outcome result
        = Session::outcome(outcome.value(QStringLiteral("outcome")).toString());
    const bool again = (result == Session::Failed || result == Session::Mismatched)
        && attempt <= m_options.retries && m_stops == 0;

    if (m_unrecorded.isEmpty())
        QTimer::singleShot(kRecordBatchMs, this, &Commands::recordAttempts);
    m_unrecorded.append(record);
    // With --json the lines for people go to standard error, beside the progress.
    (m_json ? standardError() : standardOutput())
        << (m_scan ? timeText(QDateTime::currentDateTime()) + QLatin1Char(' ') : QString())
        << link.portName() << ' ' << device(link) << ' ' << outcomeText(record)
        << (again ? QStringLiteral("; trying again (attempt %1 of %2)")
                        .arg(attempt + 1)
                        .arg(m_options.retries + 1)
                  : QString())
        << Qt::endl;
    const QString logger = link.deviceId().isEmpty()
        ? link.portName() + QStringLiteral(" (no identifier)")
        : QString::fromUtf8(link.deviceId());
    if (again) {
        retryLater(target, attempt + 1, {logger, result});
        return false;
    }
    m_session.add(logger, result);
    if (m_scan && target.listed)
        m_seen[target.listed->portName()] = false;
    if (m_scan && m_session.expecting() && m_session.missing().isEmpty() && m_stops == 0) {
        standardError() << "tempyra-cli: every expected logger is verified" << Qt::endl;
        m_stops = 1;
        m_scan->stop();
    }
    return true;
}

void Commands::recordAttempts()
{
    if (m_unrecorded.isEmpty())
        return;
    QString error;
    if (!Audit::append(m_options.auditPath, m_unrecorded, m_options.key.get(), &error)) {
        standardError() << "tempyra-cli: " << error << Qt::endl;
        m_exitCode = kExitFailed;
    }
    if (m_json)
        m_results.append(m_unrecorded);
    m_unrecorded.clear();
}

void Commands::retryLater(const Target &target, int attempt, const Outcome &last)
{
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    m_retries.insert(timer, last);
    connect(timer, &QTimer::timeout, this, [this, timer, target, attempt] {
        m_retries.remove(timer);
        timer->deleteLater();
        startWrite(target, attempt);
    });
    timer->start(kRetryPauseMs);
}

void Commands::linkDone(LoggerLink *link, const Target &target)
{
    m_links.remove(link);
    link->deleteLater();
    if (!m_writing)
        m_report(*link);
    else if (!writeDone(*link, target, m_attempts.take(link)))
        return;
    if (--m_running == 0 && (!m_scan || m_stops > 0))
        end();
}

void Commands::stop()
{
    if (++m_stops > 1) {
        // The second Ctrl-C: every conversation ends now, its port closed, and its attempt is
        // recorded as it stands; a retry waiting for its turn is not made.
        for (auto it = m_retries.cbegin(); it != m_retries.cend(); ++it) {
            m_session.add(it->logger, it->outcome);
            delete it.key();
            --m_running;
        }
        m_retries.clear();
        for (LoggerLink *link : QSet<LoggerLink *>(m_links))
            link->abort(QStringLiteral("interrupted"));
        if (m_running == 0)
            end();
        return;
    }
    if (m_scan)
        m_scan->stop();
    if (m_running == 0) {
        end();
        return;
    }
    standardError() << "tempyra-cli: ending once the " << m_running
                    << " logger(s) in progress are done; Ctrl-C again ends at once" << Qt::endl;
}

void Commands::end()
{
    recordAttempts();
    if (!m_scan)
        std::stable_sort(m_results.begin(), m_results.end(),
                         [](const QJsonObject &a, const QJsonObject &b) {
                             return a.value(QStringLiteral("port")).toString()
                                 < b.value(QStringLiteral("port")).toString();
                         });
    if (m_writing)
        endWrites();
    if (m_json && m_oneObject) {
        if (m_results.size() == 1)
            standardOutput() << QJsonDocument(m_results.first()).toJson() << Qt::flush;
    } else if (m_json) {
        QJsonArray loggers;
        for (const QJsonObject &result : qAsConst(m_results))
            loggers.append(result);
        QJsonObject document {{QStringLiteral("loggers"), loggers}};
        if (m_writing)
            document.insert(QStringLiteral("summary"), m_session.json());
        standardOutput() << QJsonDocument(document).toJson() << Qt::flush;
    } else if (m_printText) {
        m_printText();
    }
    QCoreApplication::exit(m_exitCode);
}

void Commands::endWrites()
{
    if (m_exitCode == kExitUsage)
        return;
    const QStringList missing = m_session.missing();
    // A station with a list is done when every logger on it is verified, whatever else was
    // plugged in meanwhile; any other run when every logger it took was.
    const bool done = m_scan && m_session.expecting() ? missing.isEmpty()
                                                      : !m_session.anyUndone() && missing.isEmpty();
    if (!done)
        m_exitCode = kExitFailed;
    standardError() << "tempyra-cli: summary: " << m_session.text() << Qt::endl;
    if (!missing.isEmpty())
        standardError() << "tempyra-cli: not verified: " << missing.join(QLatin1String(", "))
                        << Qt::endl;
}
