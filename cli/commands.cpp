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

QString text(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isBool())
        return QLatin1String(value.toBool() ? "true" : "false");
    if (value.isDouble())
        return QString::number(qint64(value.toDouble()));
    return QStringLiteral("?");
}

QJsonObject portResult(const LoggerLink &link)
{
    return {{QStringLiteral("port"), link.portName()},
            {QStringLiteral("location"), link.location()},
            {QStringLiteral("device"), QString::fromUtf8(link.deviceId())}};
}

// What the write came to: verified, mismatch (with the fields), or why not.
QJsonObject writeOutcome(const LoggerLink &link, const LoggerConfig &config, bool verify)
{
    if (!link.written())
        return {{QStringLiteral("outcome"), QStringLiteral("not written")},
                {QStringLiteral("reason"), link.failure()}};
    if (!verify)
        return {{QStringLiteral("outcome"), QStringLiteral("written")}};
    if (!link.reply())
        return {{QStringLiteral("outcome"), QStringLiteral("unverified")},
                {QStringLiteral("reason"), link.failure()}};
    QStringList fields = Profile::differences(config, link.reply()->config);
    const auto offset = clockOffset(link.reply()->clock, config.zone, link.replyTime());
    if (!offset || qAbs(*offset) > kClockToleranceSecs)
        fields.append(QStringLiteral("clock"));
    if (fields.isEmpty())
        return {{QStringLiteral("outcome"), QStringLiteral("verified")}};
    return {{QStringLiteral("outcome"), QStringLiteral("mismatch")},
            {QStringLiteral("fields"), QJsonArray::fromStringList(fields)}};
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

QList<LoggerLink *> Commands::chooseLoggers(const PortChoice &choice)
{
    if (!choice.name.isEmpty()) {
        // A port named is taken whatever the system says of it: Wine's ports, some drivers and
        // some adapters show no USB identifiers, or are not listed at all. The identification
        // answer decides whether a logger is there.
        const std::optional<QSerialPortInfo> listed = listedPort(choice.name);
        return {listed ? startLink(*listed) : startLink(choice.name)};
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
    QList<LoggerLink *> links;
    for (const QSerialPortInfo &port : ports)
        links.append(startLink(port));
    return links;
}

template<typename Port> LoggerLink *Commands::startLink(const Port &port)
{
    auto *link = new LoggerLink(port, this);
    ++m_running;
    connect(link, &LoggerLink::finished, this, [this, link] { linkDone(link); });
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
    for (const QSerialPortInfo &port : ports)
        startLink(port)->identify();
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
                                 << text(Profile::value(profile, key)) << Qt::endl;
            const QJsonValue offset = result.value(QStringLiteral("clockOffset"));
            standardOutput() << "  " << QStringLiteral("clock").leftJustified(14)
                             << result.value(QStringLiteral("clock")).toString() << ", "
                             << (offset.isNull() ? QStringLiteral("?") : text(offset))
                             << " s from the current time of its zone" << Qt::endl;
        }
    };
    for (LoggerLink *link : chooseLoggers(choice))
        link->read();
    if (m_running == 0)
        end();
}

void Commands::write(const LoggerConfig &config, const PortChoice &choice, bool verify,
                     const QString &auditPath)
{
    m_config = config;
    m_verify = verify;
    m_auditPath = auditPath;
    m_report = [this](const LoggerLink &link) { reportWrite(link, QString()); };
    for (LoggerLink *link : chooseLoggers(choice))
        link->write(m_config, m_verify);
    if (m_running == 0)
        end();
}

void Commands::provision(const LoggerConfig &config, const QString &portName,
                         const QString &auditPath)
{
    m_config = config;
    m_portName = portName;
    m_auditPath = auditPath;
    m_report = [this](const LoggerLink &link) {
        m_seen[link.portName()] = false;
        reportWrite(link, timeText(QDateTime::currentDateTime()) + QLatin1Char(' '));
    };
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
    } else {
        // A port the system does not list cannot be watched for plugging in: its logger is
        // taken once, when the station starts.
        if (!m_unlistedPortTaken)
            startLink(m_portName)->write(m_config, true);
        m_unlistedPortTaken = true;
        return;
    }
    QSet<QString> present;
    for (const QSerialPortInfo &port : qAsConst(ports)) {
        present.insert(port.portName());
        if (!m_seen.contains(port.portName())) {
            m_seen.insert(port.portName(), true);
            startLink(port)->write(m_config, true);
        }
    }
    // A logger unplugged is forgotten, so that plugging it in again provisions it again.
    for (auto it = m_seen.begin(); it != m_seen.end();)
        it = !it.value() && !present.contains(it.key()) ? m_seen.erase(it) : std::next(it);
}

void Commands::reportWrite(const LoggerLink &link, const QString &linePrefix)
{
    QJsonObject record = portResult(link);
    record[QStringLiteral("configuration")] = Profile::fromConfig(m_config);
    if (!link.command().isEmpty())
        record[QStringLiteral("clock")]
            = deviceTimeText(link.command().mid(ConfigLayout::kClock, ConfigLayout::kClockLength));
    const QJsonObject outcome = writeOutcome(link, m_config, m_verify);
    for (auto it = outcome.begin(); it != outcome.end(); ++it)
        record.insert(it.key(), it.value());
    const QString result = outcome.value(QStringLiteral("outcome")).toString();
    if (result != QLatin1String("verified") && result != QLatin1String("written"))
        m_exitCode = kExitFailed;

    QString error;
    if (!Audit::append(m_auditPath, record, &error)) {
        standardError() << "tempyra-cli: " << error << Qt::endl;
        m_exitCode = kExitFailed;
    }
    if (m_json) {
        m_results.append(record);
        return;
    }
    QString detail;
    if (outcome.contains(QStringLiteral("fields")))
        detail = QStringLiteral(": ")
            + outcome.value(QStringLiteral("fields"))
                  .toVariant()
                  .toStringList()
                  .join(QLatin1String(", "));
    else if (outcome.contains(QStringLiteral("reason")))
        detail = QStringLiteral(": ") + outcome.value(QStringLiteral("reason")).toString();
    standardOutput() << linePrefix << link.portName() << ' ' << device(link) << ' ' << result
                     << detail << Qt::endl;
}

void Commands::linkDone(LoggerLink *link)
{
    m_report(*link);
    link->deleteLater();
    if (--m_running == 0 && (!m_scan || m_stopping))
        end();
}

void Commands::stop()
{
    m_stopping = true;
    if (m_scan)
        m_scan->stop();
    if (m_running == 0) {
        end();
        return;
    }
    standardError() << "tempyra-cli: ending once the " << m_running
                    << " logger(s) in progress are done" << Qt::endl;
}

void Commands::end()
{
    std::sort(m_results.begin(), m_results.end(), [](const QJsonObject &a, const QJsonObject &b) {
        return a.value(QStringLiteral("port")).toString()
            < b.value(QStringLiteral("port")).toString();
    });
    if (m_json && m_oneObject) {
        if (m_results.size() == 1)
            standardOutput() << QJsonDocument(m_results.first()).toJson() << Qt::flush;
    } else if (m_json) {
        QJsonArray loggers;
        for (const QJsonObject &result : qAsConst(m_results))
            loggers.append(result);
        standardOutput()
            << QJsonDocument(QJsonObject {{QStringLiteral("loggers"), loggers}}).toJson()
            << Qt::flush;
    } else if (m_printText) {
        m_printText();
    }
    QCoreApplication::exit(m_exitCode);
}
