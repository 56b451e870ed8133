#pragma once

#include "session.h"

#include "device/loggerconfig.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSerialPortInfo>
#include <QSet>
#include <QTextStream>

#include <functional>
#include <memory>
#include <optional>

class LoggerLink;
class StationKey;
class QTimer;

/// Results go to standard output, progress and diagnostics to standard error.
QTextStream &standardOutput();
QTextStream &standardError();

// Exit codes: every logger asked for done, any logger failed, a usage or profile error.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

/// Which loggers a command works on: the one named, all of them, or the only one plugged in.
struct PortChoice
{
    QString name;
    bool all = false;
};

/// How write and provision write each logger, and where they record it.
struct WriteOptions
{
    LoggerConfig config;
    bool verify = true;
    QString auditPath;
    std::shared_ptr<const StationKey> key; // none: the lines are not signed
    QString operatorName; // empty: the account's user
    int retries = 1; // further attempts after a failed one, on the same plug-in
    int settleMs = 0; // pause between the write and the read-back
    QStringList expected; // empty: every logger is written
};

/// The commands of tempyra-cli that talk to loggers. Each talks to its loggers at the same time
/// and ends the event loop with its exit code once the last of them is done.
class Commands : public QObject
{
    Q_OBJECT

public:
    explicit Commands(bool json, QObject *parent = nullptr);

    void list();
    void read(const PortChoice &choice);
    void write(const WriteOptions &options, const PortChoice &choice);
    /// Without portName, every logger plugged in; with it, the one on that port.
    void provision(const WriteOptions &options, const QString &portName);

    /// Ctrl-C: no new logger is taken, and the program ends once those in progress are done.
    /// A second one ends it at once: the conversations stop and their ports close.
    void stop();

private:
    /// A port to talk to, as the system lists it or only by the name given.
    struct Target
    {
        std::optional<QSerialPortInfo> listed;
        QString name;
    };

    QList<Target> chooseLoggers(const PortChoice &choice);
    LoggerLink *startLink(const Target &target);
    void linkDone(LoggerLink *link, const Target &target);
    void scanForNewLoggers();
    void end();

    // write and provision
    void startWrite(const Target &target, int attempt);
    /// Records and reports one attempt; false when another one follows.
    bool writeDone(const LoggerLink &link, const Target &target, int attempt);
    /// A logger and what its last attempt came to.
    struct Outcome
    {
        QString logger;
        Session::Outcome outcome;
    };
    void retryLater(const Target &target, int attempt, const Outcome &last);
    /// Appends the attempts done so far to the audit record.
    void recordAttempts();
    void endWrites();

    bool m_json;
    bool m_oneObject = false; // read of one logger: its result alone, not in a list
    int m_stops = 0;
    int m_running = 0;
    int m_exitCode = kExitDone;
    // What a finished logger adds to the results of list and read, and how they show as text.
    std::function<void(const LoggerLink &)> m_report;
    std::function<void()> m_printText;
    QList<QJsonObject> m_results;
    QSet<LoggerLink *> m_links;

    // write and provision
    bool m_writing = false;
    WriteOptions m_options;
    QHash<LoggerLink *, int> m_attempts;
    QHash<QTimer *, Outcome> m_retries;
    QList<QJsonObject> m_unrecorded;
    Session m_session;

    // provision: the ports seen at the last scan, true while their logger is being written
    QTimer *m_scan = nullptr;
    QString m_portName; // provision --port
    bool m_portListed = false; // once listed, the port is watched for plugging in
    bool m_unlistedPortTaken = false;
    QHash<QString, bool> m_seen;
};
