#pragma once

#include "device/loggerconfig.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSerialPortInfo>
#include <QTextStream>

#include <functional>

class LoggerLink;
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

/// The commands of tempyra-cli. Each talks to its loggers at the same time and ends the event
/// loop with its exit code once the last of them is done.
class Commands : public QObject
{
    Q_OBJECT

public:
    explicit Commands(bool json, QObject *parent = nullptr);

    void list();
    void read(const PortChoice &choice);
    void write(const LoggerConfig &config, const PortChoice &choice, bool verify,
               const QString &auditPath);
    /// Without portName, every logger plugged in; with it, the one on that port.
    void provision(const LoggerConfig &config, const QString &portName, const QString &auditPath);

    /// Ctrl-C: no new logger is taken; the program ends once those in progress are done.
    void stop();

private:
    /// The loggers a command works on, their links made but not started.
    QList<LoggerLink *> chooseLoggers(const PortChoice &choice);
    /// A link on a port listed by the system or one only named.
    template<typename Port> LoggerLink *startLink(const Port &port);
    void reportWrite(const LoggerLink &link, const QString &linePrefix);
    void linkDone(LoggerLink *link);
    void scanForNewLoggers();
    void end();

    bool m_json;
    bool m_oneObject = false; // read of one logger: its result alone, not in a list
    bool m_stopping = false;
    int m_running = 0;
    int m_exitCode = kExitDone;
    // What a finished logger adds to the results, and how they show as text at the end.
    std::function<void(const LoggerLink &)> m_report;
    std::function<void()> m_printText;
    QList<QJsonObject> m_results;

    // write and provision
    LoggerConfig m_config;
    bool m_verify = true;
    QString m_auditPath;

    // provision: the ports seen at the last scan, true while their logger is being written
    QTimer *m_scan = nullptr;
    QString m_portName; // provision --port
    bool m_unlistedPortTaken = false;
    QHash<QString, bool> m_seen;
};
