#pragma once

#include "station/station.h"

#include "app/terminationsignals.h"

#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QTextStream>

#include <functional>

class LoggerLink;

/// Results go to standard output, progress and diagnostics to standard error.
QTextStream &standardOutput();
QTextStream &standardError();

// Exit codes: every logger asked for done, any logger failed, a usage or profile error.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

/// Which loggers a command works on: those named, all of them, or the only one plugged in.
struct PortChoice
{
    QStringList names;
    bool all = false;
};

/// The commands of tempyra-cli that talk to loggers: the terminal's front of the conversations
/// and of the station. Each talks to its loggers at the same time and ends the event loop with
/// its exit code once the last of them is done.
class Commands : public QObject
{
    Q_OBJECT

public:
    /// replyTimeoutMs bounds the logger's answers for list and read.
    Commands(bool json, int replyTimeoutMs, QObject *parent = nullptr);

    void list();
    void read(const PortChoice &choice);
    void write(const WriteOptions &options, const PortChoice &choice);
    /// Every logger plugged in, or those on the ports named.
    void provision(const WriteOptions &options, const QStringList &portNames);

    /// Ctrl-C, or another request to end: no new logger is taken, and the program ends once
    /// those in progress are done. A second one ends it at once: the conversations stop and
    /// their ports close.
    void stop(TerminationRequest request);

private:
    QList<Target> chooseLoggers(const PortChoice &choice);
    LoggerLink *startLink(const Target &target);
    void linkDone(LoggerLink *link);
    void startStation(const WriteOptions &options);
    void attemptEnded(const Attempt &attempt);
    void stationFinished();
    void end();

    bool m_json;
    int m_replyTimeoutMs;
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
    Station *m_station = nullptr;
    bool m_provisioning = false;
    WriteOptions m_options;
    bool m_waited = false; // for the record, every logger done
};
