#include "commands.h"

#include "record/audit.h"
#include "recordcommands.h"
#include "station/choices.h"
#include "station/profile.h"
#include "station/terminaltext.h"

#include "device/configreply.h"
#include "device/loggerlink.h"
#include "device/loggerports.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

// Lists for people name at most this many loggers each: a screenful; --json names them all.
constexpr int kNamesShown = 12;

// QLocale::c(): QDateTime::toString writes the system locale's digits.
QString timeText(const QDateTime &time)
{
    return QLocale::c().toString(time, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QJsonObject portResult(const LoggerLink &link)
{
    return {{QStringLiteral("port"), link.portName()},
            {QStringLiteral("location"), link.location()},
            {QStringLiteral("device"), QString::fromUtf8(link.deviceId())}};
}

// The outcome as the line for people shows it after the port and the device.
QString outcomeText(const Attempt &attempt)
{
    QString text = attempt.record.value(QStringLiteral("outcome")).toString();
    if (!attempt.recorded)
        text += QStringLiteral(", not recorded");
    const QString details = attemptDetails(attempt);
    if (!details.isEmpty())
        text += QStringLiteral(": ") + details;
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

Commands::Commands(bool json, int replyTimeoutMs, QObject *parent)
    : QObject(parent)
    , m_json(json)
    , m_replyTimeoutMs(replyTimeoutMs)
{ }

LoggerLink *Commands::startLink(const Target &target)
{
    auto *link
        = target.listed ? new LoggerLink(*target.listed, this) : new LoggerLink(target.name, this);
    link->setReplyTimeout(m_replyTimeoutMs);
    m_links.insert(link);
    connect(link, &LoggerLink::finished, this, [this, link] { linkDone(link); });
    ++m_running;
    return link;
}

QList<Target> Commands::chooseLoggers(const PortChoice &choice)
{
    QList<Target> targets;
    // A port named is taken whatever the system says of it: Wine's ports, some drivers and some
    // adapters show no USB identifiers, or are not listed at all. The identification answer
    // decides whether a logger is there.
    for (const QString &name : choice.names)
        targets.append({listedPort(name), name});
    if (!targets.isEmpty())
        return targets;
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
    for (const QSerialPortInfo &port : ports)
        targets.append({port, port.portName()});
    return targets;
}

void Commands::list()
{
    m_report = [this](const LoggerLink &link) {
        QJsonObject result = portResult(link);
        result[QStringLiteral("serialNumber")] = link.serialNumber();
        result[QStringLiteral("answered")] = link.identified();
        if (!link.failure().isEmpty())
            standardError() << terminalText(link.portName() + QStringLiteral(": ") + link.failure())
                            << Qt::endl;
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
                {terminalText(result.value(QStringLiteral("port")).toString()),
                 terminalText(result.value(QStringLiteral("location")).toString()),
                 terminalText(result.value(QStringLiteral("serialNumber")).toString()),
                 QLatin1String(result.value(QStringLiteral("answered")).toBool() ? "yes" : "no"),
                 id.isEmpty() ? QStringLiteral("-") : terminalText(id)});
        }
        printTable(rows);
    };
    const QList<QSerialPortInfo> ports = loggerPorts();
    if (ports.isEmpty())
        standardError() << "tempyra-cli: no port with the logger's USB identifiers" << Qt::endl;
    for (const QSerialPortInfo &port : ports)
        startLink({port, port.portName()})->identify();
    if (m_running == 0)
        end();
}

void Commands::read(const PortChoice &choice)
{
    m_oneObject = !choice.all && choice.names.size() <= 1;
    m_report = [this](const LoggerLink &link) {
        QJsonObject result = portResult(link);
        if (!link.reply()) {
            result[QStringLiteral("error")] = link.failure();
            m_exitCode = kExitFailed;
        } else {
            const ConfigurationReply &reply = *link.reply();
            result[QStringLiteral("configuration")] = Profile::fromConfig(reply.config);
            result[QStringLiteral("clock")] = deviceTimeText(reply.clock);
            const auto offset = deviceClockOffset(reply.clock, reply.config.zone, link.replyTime());
            result[QStringLiteral("clockOffset")]
                = offset ? QJsonValue(double(*offset)) : QJsonValue(QJsonValue::Null);
        }
        m_results.append(result);
    };
    m_printText = [this] {
        const auto print
            = [](const QString &line) { standardOutput() << terminalText(line) << Qt::endl; };
        for (const QJsonObject &result : qAsConst(m_results)) {
            const QString id = result.value(QStringLiteral("device")).toString();
            print(result.value(QStringLiteral("port")).toString() + QLatin1Char(' ')
                  + (id.isEmpty() ? QStringLiteral("-") : id));
            if (result.contains(QStringLiteral("error"))) {
                print(QStringLiteral("  not read: ")
                      + result.value(QStringLiteral("error")).toString());
                continue;
            }
            const QJsonObject profile = result.value(QStringLiteral("configuration")).toObject();
            for (const QString &key : Profile::keys())
                print(QStringLiteral("  ") + key.leftJustified(14)
                      + Profile::shortText(Profile::value(profile, key)));
            const QJsonValue offset = result.value(QStringLiteral("clockOffset"));
            print(QStringLiteral("  %1%2, %3 s from the current time of its zone")
                      .arg(QStringLiteral("clock").leftJustified(14),
                           result.value(QStringLiteral("clock")).toString(),
                           offset.isNull() ? QStringLiteral("?") : Profile::shortText(offset)));
        }
    };
    for (const Target &target : chooseLoggers(choice))
        startLink(target)->read();
    if (m_running == 0)
        end();
}

void Commands::linkDone(LoggerLink *link)
{
    m_links.remove(link);
    link->deleteLater();
    m_report(*link);
    if (--m_running == 0)
        end();
}

void Commands::startStation(const WriteOptions &options)
{
    m_options = options;
    m_station = new Station(options, this);
    connect(m_station, &Station::attemptEnded, this, &Commands::attemptEnded);
    connect(m_station, &Station::finished, this, &Commands::stationFinished);
    connect(m_station, &Station::recordFailing, this, [](const QString &error, int owed) {
        standardError() << "tempyra-cli: " << error << Qt::endl
                        << "tempyra-cli: no further logger is written until the audit record can "
                           "be written again; "
                        << counted(owed, "line") << " owed to it, kept until then" << Qt::endl;
    });
    connect(m_station, &Station::recordChangedUnder, this, [this](const QString &problem) {
        standardError() << "tempyra-cli: " << problem << Qt::endl
                        << "tempyra-cli: nothing more is appended to it in this run and no "
                           "further logger is written"
                        << (m_station->inProgress() > 0
                                ? "; the station ends once the loggers in progress are done"
                                : "")
                        << "; \"tempyra-cli audit verify\" shows what changed" << Qt::endl;
    });
    connect(m_station, &Station::waitingForRecordStarted, this, [this](int owed) {
        m_waited = true;
        const Session &session = m_station->session();
        standardError() << "tempyra-cli: "
                        << (session.expecting() && session.allExpectedVerified()
                                ? "every expected logger is verified"
                                : "every logger is done")
                        << "; waiting for the audit record to take the "
                        << (owed == 1 ? QStringLiteral("line") : counted(owed, "line"))
                        << " owed to it (" << m_station->recordError()
                        << "); Ctrl-C ends and keeps " << (owed == 1 ? "it" : "them")
                        << " in a file" << Qt::endl;
    });
    connect(m_station, &Station::recordRestored, this, [](int appended) {
        standardError() << "tempyra-cli: the audit record can be written again: "
                        << counted(appended, "owed line") << " appended" << Qt::endl;
    });
    connect(m_station, &Station::loggerSeen, this, [this](const QString &port) {
        if (!m_station->recordError().isEmpty() && m_provisioning)
            standardError() << "tempyra-cli: " << port
                            << ": not written until the audit record can be written" << Qt::endl;
    });
    connect(m_station, &Station::everyExpectedVerified, this, [this] {
        // Said already where the station then waited for its record.
        if (!m_waited)
            standardError() << "tempyra-cli: every expected logger is verified" << Qt::endl;
    });
    if (!options.key)
        standardError() << "tempyra-cli: " << Choices::unsignedWarning() << Qt::endl;
    if (options.record.newlineMissing)
        standardError() << "tempyra-cli: the last line of the audit record "
                        << QDir::toNativeSeparators(options.auditPath)
                        << " is whole but lacks its newline (a write or an edit that stopped "
                           "there); its first line in this run completes it"
                        << Qt::endl;
}

void Commands::write(const WriteOptions &options, const PortChoice &choice)
{
    const QList<Target> targets = chooseLoggers(choice);
    if (targets.isEmpty()) {
        end();
        return;
    }
    startStation(options);
    m_station->write(targets);
}

void Commands::provision(const WriteOptions &options, const QStringList &portNames)
{
    m_provisioning = true;
    startStation(options);
    standardError() << "tempyra-cli: waiting for loggers; Ctrl-C ends" << Qt::endl;
    m_station->provision(portNames);
}

void Commands::attemptEnded(const Attempt &attempt)
{
    QString again;
    if (attempt.whenBack)
        again = QStringLiteral("; attempt %1 of %2 when it is plugged in again")
                    .arg(attempt.number + 1)
                    .arg(m_options.retries + 1);
    else if (attempt.again)
        again = QStringLiteral("; trying again (attempt %1 of %2)")
                    .arg(attempt.number + 1)
                    .arg(m_options.retries + 1);
    const QString id = attempt.record.value(QStringLiteral("device")).toString();
    // With --json the lines for people go to standard error, beside the progress.
    (m_json ? standardError() : standardOutput())
        << (m_provisioning ? timeText(QDateTime::currentDateTime()) + QLatin1Char(' ') : QString())
        << terminalText(attempt.port + QLatin1Char(' ') + (id.isEmpty() ? QStringLiteral("-") : id)
                        + QLatin1Char(' ') + outcomeText(attempt))
        << again << Qt::endl;
    if (m_json) {
        QJsonObject result = attempt.record;
        result.insert(QStringLiteral("recorded"), attempt.recorded);
        m_results.append(result);
    }
}

void Commands::stop(TerminationRequest request)
{
    // Waiting for the record is ended by the first request: the lines owed go to a file.
    if (++m_stops > 1 || (m_station && m_station->waitingForRecord())) {
        // The second request: every conversation ends now, its port closed, and its attempt is
        // recorded as it stands; a retry waiting for its turn is not made.
        if (m_station)
            m_station->abort();
        for (LoggerLink *link : QSet<LoggerLink *>(m_links))
            link->abort(QStringLiteral("interrupted"));
        return;
    }
    const int busy = m_station ? m_station->inProgress() : m_running;
    if (m_station)
        m_station->stop();
    else if (m_running == 0)
        end();
    if (busy > 0)
        standardError() << "tempyra-cli: ending once the " << counted(busy, "logger")
                        << (busy == 1 ? " in progress is done" : " in progress are done")
                        << (request == TerminationRequest::CtrlC ? "; Ctrl-C again ends at once"
                                                                 : "; asked again, it ends at once")
                        << Qt::endl;
}

void Commands::stationFinished()
{
    const Session &session = m_station->session();
    const int missing = session.missingCount();
    // A station with a list is done when every logger on it is verified, whatever else was
    // plugged in meanwhile; any other run when every logger it took was.
    const QList<QJsonObject> owed = m_station->owed();
    const bool recorded = owed.isEmpty() && !m_station->recordChanged();
    const bool done = m_provisioning && session.expecting()
        ? missing == 0 && recorded
        : !session.anyUndone() && missing == 0 && recorded;
    if (!done)
        m_exitCode = kExitFailed;
    standardError() << "tempyra-cli: summary: " << session.text(kNamesShown) << Qt::endl;
    if (missing > 0)
        standardError() << "tempyra-cli: not verified: "
                        << terminalText(session.missing(kNamesShown).join(QLatin1String(", ")))
                        << (missing > kNamesShown
                                ? QStringLiteral(" and %1 more (--json lists them all)")
                                      .arg(missing - kNamesShown)
                                : QString())
                        << Qt::endl;
    // Lines the record could not take are not lost: kept in a file, signed and chained as a
    // record is, and shown on standard error too.
    const Audit::Owed &kept = m_station->kept();
    const QString record = QDir::toNativeSeparators(m_options.auditPath);
    if (!owed.isEmpty()) {
        const QString lines = owed.size() == 1
            ? QStringLiteral("the line owed")
            : QStringLiteral("the %1 lines owed").arg(owed.size());
        // Said when it happened, where the record was changed under the station.
        if (!m_station->recordChanged())
            standardError() << "tempyra-cli: " << m_station->recordError() << Qt::endl;
        if (!kept.path.isEmpty())
            standardError() << "tempyra-cli: " << lines << " to the audit record "
                            << (owed.size() == 1 ? "is" : "are") << " kept in " << kept.path
                            << "; \"tempyra-cli audit append-owed " << record << ' ' << kept.path
                            << "\" appends " << (owed.size() == 1 ? "it" : "them")
                            << " once the record can be written. "
                            << (owed.size() == 1 ? "It follows:" : "They follow:") << Qt::endl;
        else
            standardError() << "tempyra-cli: " << lines << " to the audit record could not be "
                            << "kept in a file either (" << kept.error << "). "
                            << (owed.size() == 1 ? "It follows; keep it" : "They follow; keep them")
                            << " in a file, which \"tempyra-cli audit append-owed " << record
                            << " FILE\" appends:" << Qt::endl;
        standardError() << kept.lines << Qt::flush;
    }
    // The head, for the shipment's papers: "audit verify --head" proves it later. A record
    // changed under the station gets none: the station cannot vouch for it.
    Audit::Head head = m_station->head();
    QString error;
    if (m_station->recordChanged()) {
        if (head.seq > 0)
            standardError() << "tempyra-cli: no head: the audit record was changed under this "
                               "station; the last line it appended there was "
                            << head.text() << Qt::endl;
        head = {};
    } else if (head.seq == 0) {
        head = Audit::currentHead(m_options.auditPath, &error).value_or(Audit::Head());
    }
    if (head.seq > 0)
        standardError() << "tempyra-cli: head " << head.text() << " of " << record << Qt::endl;
    if (m_json) {
        QJsonArray loggers;
        for (const QJsonObject &result : qAsConst(m_results))
            loggers.append(result);
        QJsonObject document {{QStringLiteral("loggers"), loggers},
                              {QStringLiteral("summary"), session.json()}};
        if (head.seq > 0)
            document.insert(QStringLiteral("head"), head.text());
        if (m_station->recordChanged())
            document.insert(QStringLiteral("recordChanged"), m_station->recordError());
        if (!kept.path.isEmpty())
            document.insert(QStringLiteral("owedKeptIn"), kept.path);
        if (m_options.key)
            document.insert(QStringLiteral("signer"), QLatin1String(m_options.key->fingerprint()));
        else
            document.insert(QStringLiteral("unsigned"), Choices::unsignedWarning());
        standardOutput() << QJsonDocument(document).toJson() << Qt::flush;
    }
    QCoreApplication::exit(m_exitCode);
}

void Commands::end()
{
    std::stable_sort(m_results.begin(), m_results.end(),
                     [](const QJsonObject &a, const QJsonObject &b) {
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
