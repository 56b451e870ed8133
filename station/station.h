#pragma once

#include "record/audit.h"
#include "record/personkey.h"
#include "station/session.h"

#include "device/loggerconfig.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSerialPortInfo>
#include <QSet>
#include <QStringList>
#include <QThreadPool>

#include <memory>
#include <optional>

class LoggerLink;
class QTimer;

/// How write and provision write each logger, and where they record it.
struct WriteOptions
{
    LoggerConfig config;
    bool verify = true;
    QString auditPath;
    Audit::Usable record; // what checking the record before the run found
    std::shared_ptr<const StationKey> key; // none: the lines are not signed
    // The operator signed in with their own key: the run's first line signs them in and its last
    // signs them out, both signed by them; every attempt line between names them.
    std::shared_ptr<const PersonKey> person;
    QJsonObject profile; // what each attempt line says of its profile: hash, approval
    QString operatorName; // empty: the account's user
    int retries = 1; // further attempts after a failed one
    int settleMs = 0; // pause between the write and the read-back
    int replyTimeoutMs = 250; // the bound of the logger's answers
    ExpectedList expected; // empty: every logger is written
};

/// A port to talk to, as the system lists it or only by the name given.
struct Target
{
    std::optional<QSerialPortInfo> listed;
    QString name;
};

/// One attempt at a logger, as it ended.
struct Attempt
{
    QJsonObject record; // its audit line, before it is chained
    QString port;
    QString logger; // as the summary names it
    Session::Outcome outcome = Session::Failed;
    int number = 1; // of WriteOptions::retries + 1
    bool again = false; // another attempt follows, on this plugging in ...
    bool whenBack = false; // ... or once the logger is plugged in again
    bool timedOut = false; // a reply did not come within its bound
    bool recorded = false;
};

/// What an attempt came to, for people: each field that differs ("interval 00:10 written, 00:11
/// read back") or the reason it failed, joined by "; "; empty for a verified attempt.
QString attemptDetails(const Attempt &attempt);

/// The writing of loggers, for write (the ports given, once each) and provision (every logger
/// plugged in while it runs). A logger is the unit, known by its device identifier and, where
/// the system gives one, its USB serial number: a failed attempt is made again while the same
/// logger stays plugged in, and once it is gone, when it comes back on any port. Each attempt
/// is appended to the audit record before it is told as ended; while the record cannot be
/// written, the lines owed are kept and no further logger is written, and a station that
/// provisions waits for the record before it ends. The record must hold what the station found
/// there and appended: changed under it, moved or replaced, it takes no further line and the
/// station ends. Lines still owed at the end are kept in a file of their own. The station knows
/// nothing of a terminal: its front listens to the signals.
class Station : public QObject
{
    Q_OBJECT

public:
    explicit Station(const WriteOptions &options, QObject *parent = nullptr);
    ~Station() override;

    /// Writes each target; finished() once all are done.
    void write(const QList<Target> &targets);
    /// Writes every logger plugged in, or only those on the ports named; with an expected list,
    /// stops by itself once each is verified.
    void provision(const QStringList &portNames);
    /// Held, the station writes no logger that is plugged in (those in progress go on); let go,
    /// it writes those that waited. For an operator who has to sign in again.
    void hold(bool held);
    /// No new logger is taken, and finished() comes once those in progress are done and their
    /// lines appended (a station that provisions waits for its record).
    void stop();
    /// Every conversation ends now, its attempt recorded as it stands; no retry is made, and
    /// lines the record cannot take now are kept in a file.
    void abort();

    bool stopping() const { return m_stopping; }
    /// The loggers being written, or waiting for a retry or for the record.
    int inProgress() const;
    const Session &session() const { return m_session; }
    /// The record's head after the last append of this run; seq 0 before one.
    const Audit::Head &head() const { return m_head; }
    /// The audit lines not appended yet, and why the last try failed.
    QList<QJsonObject> owed() const;
    const QString &recordError() const { return m_recordError; }
    /// The record was changed, moved or replaced under the station.
    bool recordChanged() const { return m_recordChanged; }
    /// Waiting for the record to take the lines owed to it, every logger done.
    bool waitingForRecord() const { return m_waiting; }
    /// The lines still owed when the station finished, kept in a file (or not).
    const Audit::Owed &kept() const { return m_kept; }

signals:
    void loggerSeen(const QString &port);
    void loggerIdentified(const QString &port, const QString &deviceId);
    /// The logger on port holds its new configuration and is being read back.
    void loggerChecking(const QString &port);
    void attemptEnded(const Attempt &attempt);
    void loggerGone(const QString &port);
    /// An append failed: count lines are owed to the record.
    void recordFailing(const QString &error, int count);
    /// The owed lines were appended at last.
    void recordRestored(int count);
    /// The record was changed under the station: it takes no further line, and the station
    /// ends once the loggers in progress are done.
    void recordChangedUnder(const QString &problem);
    /// Every logger is done, and the station waits for the record to take the lines it owes.
    void waitingForRecordStarted(int count);
    void everyExpectedVerified();
    void finished();

private:
    struct Plugging;
    struct LoggerState
    {
        int nextAttempt = 1;
        QString name; // in the summary, for a logger known by its port or serial number
    };

    Plugging *plugIn(const Target &target);
    void start(Plugging *plugging);
    void attemptDone(Plugging *plugging);
    void scan();
    void unplugged(Plugging *plugging);
    bool stillPlugged(const Plugging *plugging) const;
    /// Closes the plugging's port and lets its conversation go.
    void dropLink(Plugging *plugging);
    /// Queues the line that signs the operator in, or out.
    void signPerson(bool in);
    /// Appends the lines that ended and those owed, in the writer's thread.
    void appendRecords();
    // Lines given to the writer, and what became of them.
    struct Batch
    {
        QList<Audit::Entry> lines;
        QList<Attempt> ended;
        Audit::Mark mark;
        Audit::Appended appended = Audit::Appended::Failed;
        QString error;
        Audit::Head head;
    };
    void appended(const Batch &batch);
    /// No new logger is taken.
    void stopTaking();
    void endIfDone();

    WriteOptions m_options;
    Session m_session;
    bool m_provisioning = false;
    bool m_stopping = false;
    bool m_finished = false;
    bool m_everyExpectedVerified = false;
    QStringList m_portNames; // provision: the ports named, empty for all
    QSet<QString> m_unlistedTaken;
    QTimer *m_scan = nullptr;
    QHash<QString, Plugging *> m_pluggings; // by port name
    QHash<QString, QElapsedTimer> m_lost; // ports whose line ended, until they leave the list
    QList<Plugging *> m_released; // unplugged while still busy
    QHash<QString, LoggerState> m_loggers; // by identity

    // The audit record: attempts ended since the last append, and the lines owed to it.
    QList<Attempt> m_ended;
    // A line owed to the record: the logger it tells of (none for a person's line), the line.
    struct Pending
    {
        QString logger;
        Audit::Entry entry;
    };
    QList<Pending> m_owed;
    QList<Audit::Entry> m_people; // a person's lines not tried yet
    bool m_signedOut = false;
    bool m_held = false;
    QThreadPool m_writer; // the record's appends
    bool m_appending = false;
    QTimer *m_appendTimer = nullptr;
    QString m_recordError;
    Audit::Mark m_mark; // the record's end as the station last found or left it
    bool m_recordChanged = false;
    bool m_waiting = false;
    bool m_aborted = false;
    Audit::Head m_head;
    Audit::Owed m_kept;
};
