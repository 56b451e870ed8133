#include "station/station.h"

#include "station/profile.h"

#include "device/configreply.h"
#include "device/loggerlink.h"
#include "device/loggerports.h"

#include <QDateTime>
#include <QJsonArray>
#include <QMetaObject>
#include <QTimer>

namespace {

// A verified clock is within this many seconds of the current time of the zone written.
constexpr int kClockToleranceSecs = 2;
// Qt tells of no plugging in, so provision looks at the port list this often.
constexpr int kScanIntervalMs = 300;
// A failed attempt is tried again after this pause, which lets a logger that was busy or had
// a burst of noise on its line settle.
constexpr int kRetryPauseMs = 200;
// The audit lines of attempts that end within this long of each other (loggers written at the
// same time) go out in one append; all are appended before the program ends.
constexpr int kRecordBatchMs = 50;
// A port whose line ended leaves the system's list soon after; one still listed this long after
// was unplugged and plugged in again at once, or given another logger.
constexpr int kReplugSettleMs = 1000;
// While the record cannot be written, the lines owed to it are tried again this often.
constexpr int kRecordRetryMs = 1000;

// What the write came to: refused (naming a listed identifier it nearly is), not written,
// written, unverified, verified, or a mismatch with the written and read-back value of each
// field that differs.
QJsonObject writeOutcome(const LoggerLink &link, const LoggerConfig &config, bool verify,
                         const ExpectedList &expected)
{
    if (link.refused()) {
        QString reason = QStringLiteral("not on the expected list");
        const QString id = QString::fromUtf8(link.deviceId());
        const int nearly = expected.nearMiss(id);
        if (nearly >= 0) {
            const QString listed = expected.at(nearly);
            reason += QStringLiteral(" (it lists %1, which differs only in %2)")
                          .arg(listed, ExpectedList::difference(id, listed));
        }
        return {{QStringLiteral("outcome"), QStringLiteral("refused")},
                {QStringLiteral("reason"), reason}};
    }
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
    const auto offset = deviceClockOffset(clock, config.zone, link.replyTime());
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

} // namespace

QString attemptDetails(const Attempt &attempt)
{
    const QJsonObject &record = attempt.record;
    QStringList details;
    for (const QJsonValue &value : record.value(QStringLiteral("differences")).toArray()) {
        const QJsonObject difference = value.toObject();
        details.append(QStringLiteral("%1 %2 written, %3 read back")
                           .arg(difference.value(QStringLiteral("field")).toString(),
                                Profile::shortText(difference.value(QStringLiteral("written"))),
                                Profile::shortText(difference.value(QStringLiteral("read")))));
    }
    if (record.contains(QStringLiteral("reason")))
        details.append(record.value(QStringLiteral("reason")).toString()
                       + (attempt.timedOut
                              ? QStringLiteral(" (a slow logger needs a longer --reply-timeout)")
                              : QString()));
    return details.join(QLatin1String("; "));
}

// A port with a logger on it, from its plugging in to its unplugging.
struct Station::Plugging
{
    Target target;
    QString serial; // the USB serial number when it was plugged in
    LoggerLink *link = nullptr; // the conversation, or the port held after it
    bool running = false;
    QTimer *retry = nullptr; // an attempt waiting for its turn
    bool queued = false; // an attempt waiting for the record
    // The logger of the attempt in progress, once known, and the attempt's number.
    QString identity;
    QString deviceId;
    int attempt = 0;

    QString name() const { return target.name; }
    bool inProgress() const { return running || retry || queued; }
};

Station::Station(const WriteOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_appendTimer(new QTimer(this))
    , m_mark(options.record.mark)
{
    // One append at a time, in the record's order.
    m_writer.setMaxThreadCount(1);
    m_session.expect(options.expected);
    m_appendTimer->setSingleShot(true);
    connect(m_appendTimer, &QTimer::timeout, this, [this] {
        appendRecords();
        endIfDone();
    });
}

Station::~Station()
{
    // An append under way finishes: a line half written is never left in the record.
    m_writer.waitForDone();
    qDeleteAll(m_pluggings);
}

void Station::write(const QList<Target> &targets)
{
    if (m_options.person)
        signPerson(true);
    for (const Target &target : targets)
        start(plugIn(target));
    endIfDone();
}

void Station::provision(const QStringList &portNames)
{
    if (m_options.person)
        signPerson(true);
    m_provisioning = true;
    m_portNames = portNames;
    m_scan = new QTimer(this);
    connect(m_scan, &QTimer::timeout, this, &Station::scan);
    m_scan->start(kScanIntervalMs);
    scan();
}

Station::Plugging *Station::plugIn(const Target &target)
{
    auto *plugging = new Plugging;
    plugging->target = target;
    plugging->serial = target.listed ? target.listed->serialNumber() : QString();
    m_pluggings.insert(target.name, plugging);
    emit loggerSeen(target.name);
    return plugging;
}

void Station::start(Plugging *plugging)
{
    if (!m_recordError.isEmpty() || m_held) {
        // No logger is written while its line could not be kept, or while the station is held:
        // a station waits, a write (or a station that is stopping) writes no more.
        plugging->queued = m_provisioning && !m_stopping;
        return;
    }
    plugging->queued = false;
    dropLink(plugging);
    const Target &target = plugging->target;
    auto *link
        = target.listed ? new LoggerLink(*target.listed, this) : new LoggerLink(target.name, this);
    plugging->link = link;
    plugging->running = true;
    plugging->identity.clear();
    plugging->deviceId.clear();
    link->setSettle(m_options.settleMs);
    link->setReplyTimeout(m_options.replyTimeoutMs);
    // A station keeps the port open after the write, so that an unplugging, however brief, is
    // seen and the logger plugged in next is written again.
    link->setHoldPort(m_provisioning);
    link->setAcceptance([this, plugging](const QByteArray &id) {
        plugging->deviceId = QString::fromUtf8(id);
        plugging->identity = QStringLiteral("id:") + plugging->deviceId;
        // Attempts that ended before it identified itself were its own.
        const QString before = plugging->serial.isEmpty()
            ? QStringLiteral("port:") + plugging->name()
            : QStringLiteral("usb:") + plugging->serial;
        if (m_loggers.contains(before)) {
            const LoggerState earlier = m_loggers.take(before);
            LoggerState &state = m_loggers[plugging->identity];
            state.nextAttempt = qMax(state.nextAttempt, earlier.nextAttempt);
            m_session.forget(earlier.name);
        }
        plugging->attempt = m_loggers[plugging->identity].nextAttempt;
        emit loggerIdentified(plugging->name(), plugging->deviceId);
        return !m_session.expecting() || m_session.isExpected(plugging->deviceId);
    });
    connect(link, &LoggerLink::finished, this, [this, plugging] { attemptDone(plugging); });
    connect(link, &LoggerLink::lost, this, [this, plugging] { unplugged(plugging); });
    if (m_options.verify)
        connect(link, &LoggerLink::commandWritten, this,
                [this, plugging] { emit loggerChecking(plugging->name()); });
    link->write(m_options.config, m_options.verify);
}

void Station::attemptDone(Plugging *plugging)
{
    const LoggerLink &link = *plugging->link;
    plugging->running = false;
    const bool identified = !plugging->identity.isEmpty();
    if (!identified) {
        plugging->identity = plugging->serial.isEmpty() ? QStringLiteral("port:") + plugging->name()
                                                        : QStringLiteral("usb:") + plugging->serial;
        plugging->attempt = m_loggers[plugging->identity].nextAttempt;
    }

    Attempt attempt;
    attempt.port = link.portName();
    attempt.number = plugging->attempt;
    attempt.timedOut = link.timedOut();
    attempt.logger
        = identified ? plugging->deviceId : plugging->name() + QStringLiteral(" (not identified)");
    QJsonObject &record = attempt.record;
    record = {{QStringLiteral("port"), link.portName()},
              {QStringLiteral("location"), link.location()},
              {QStringLiteral("attempt"), attempt.number}};
    // An attempt that never got an identifier says so, with the port and serial number.
    if (identified)
        record.insert(QStringLiteral("device"), plugging->deviceId);
    else
        record.insert(QStringLiteral("identified"), false);
    if (!plugging->serial.isEmpty())
        record.insert(QStringLiteral("serialNumber"), plugging->serial);
    if (!link.refused()) {
        record.insert(QStringLiteral("configuration"), Profile::fromConfig(m_options.config));
        if (!m_options.profile.isEmpty())
            record.insert(QStringLiteral("profile"), m_options.profile);
    }
    if (m_options.person)
        record.insert(QStringLiteral("person"), QLatin1String(m_options.person->fingerprint()));
    if (!link.command().isEmpty())
        record.insert(
            QStringLiteral("clock"),
            deviceTimeText(link.command().mid(ConfigLayout::kClock, ConfigLayout::kClockLength)));
    const QJsonObject outcome
        = writeOutcome(link, m_options.config, m_options.verify, m_options.expected);
    for (auto it = outcome.begin(); it != outcome.end(); ++it)
        record.insert(it.key(), it.value());
    Audit::stamp(record, m_options.operatorName);
    attempt.outcome = Session::outcome(outcome.value(QStringLiteral("outcome")).toString());

    LoggerState &state = m_loggers[plugging->identity];
    if (!identified && state.name != attempt.logger) {
        // The same logger, unidentified, on another port: one state in the summary.
        m_session.forget(state.name);
        state.name = attempt.logger;
    }
    const bool failed
        = attempt.outcome == Session::Failed || attempt.outcome == Session::Mismatched;
    state.nextAttempt = 1;
    if (failed && attempt.number <= m_options.retries && !m_stopping) {
        if (stillPlugged(plugging)) {
            attempt.again = true;
            state.nextAttempt = attempt.number + 1;
            plugging->retry = new QTimer(this);
            plugging->retry->setSingleShot(true);
            connect(plugging->retry, &QTimer::timeout, this, [this, plugging] {
                plugging->retry->deleteLater();
                plugging->retry = nullptr;
                start(plugging);
                endIfDone();
            });
            plugging->retry->start(kRetryPauseMs);
        } else if (m_provisioning && !plugging->identity.startsWith(QLatin1String("port:"))) {
            // Gone: its next attempt is made when it is plugged in again, on any port.
            attempt.again = attempt.whenBack = true;
            state.nextAttempt = attempt.number + 1;
        }
    }
    m_session.add(attempt.logger, attempt.outcome, identified);
    m_session.setRecorded(attempt.logger, false);
    m_ended.append(attempt);
    if (!m_appendTimer->isActive())
        m_appendTimer->start(kRecordBatchMs);

    // A line that ended is a logger pulled out: whatever is plugged in there next is new.
    if (link.lineLost() && !plugging->retry)
        unplugged(plugging);
    if (m_provisioning && m_session.expecting() && m_session.allExpectedVerified() && !m_stopping) {
        m_everyExpectedVerified = true;
        stop();
    }
    endIfDone();
}

void Station::dropLink(Plugging *plugging)
{
    if (!plugging->link)
        return;
    plugging->link->disconnect(this);
    plugging->link->release();
    plugging->link->deleteLater();
    plugging->link = nullptr;
}

bool Station::stillPlugged(const Plugging *plugging) const
{
    if (plugging->link->lineLost())
        return false;
    if (!plugging->target.listed)
        return true; // a port the system does not list: only its line tells
    const std::optional<QSerialPortInfo> port = listedPort(plugging->name());
    return port && port->serialNumber() == plugging->serial;
}

void Station::unplugged(Plugging *plugging)
{
    if (m_pluggings.value(plugging->name()) != plugging)
        return;
    if (plugging->running) {
        // The conversation ends by itself on the lost line; the plugging goes then.
        return;
    }
    m_pluggings.remove(plugging->name());
    if (plugging->link && plugging->link->lineLost())
        m_lost[plugging->name()].start();
    emit loggerGone(plugging->name());
    // An attempt waiting for its turn waits for the logger to come back; its number is kept.
    if (plugging->retry && plugging->identity.startsWith(QLatin1String("port:")))
        m_loggers.remove(plugging->identity);
    delete plugging->retry;
    dropLink(plugging);
    delete plugging;
    endIfDone();
}

void Station::scan()
{
    if (m_stopping)
        return;
    QList<QSerialPortInfo> ports;
    if (m_portNames.isEmpty()) {
        ports = loggerPorts();
    } else {
        for (const QString &name : qAsConst(m_portNames)) {
            if (const std::optional<QSerialPortInfo> listed = listedPort(name)) {
                ports.append(*listed);
                m_unlistedTaken.insert(name);
            } else if (!m_unlistedTaken.contains(name)) {
                // A port the system does not list cannot be watched for plugging in: its
                // logger is taken once, when the station starts.
                m_unlistedTaken.insert(name);
                start(plugIn({std::nullopt, name}));
            }
        }
    }
    QSet<QString> present;
    for (const QSerialPortInfo &port : qAsConst(ports))
        present.insert(port.portName());
    for (auto it = m_lost.begin(); it != m_lost.end();)
        it = !present.contains(it.key()) || it->hasExpired(kReplugSettleMs) ? m_lost.erase(it)
                                                                            : std::next(it);
    for (const QSerialPortInfo &port : qAsConst(ports)) {
        if (m_lost.contains(port.portName()))
            continue; // not yet gone from the list, or plugged in again: seen at a later look
        Plugging *plugging = m_pluggings.value(port.portName());
        // Another logger on the same port: the one before was unplugged between two looks.
        if (plugging && !plugging->running && plugging->serial != port.serialNumber()) {
            unplugged(plugging);
            plugging = nullptr;
        }
        if (!plugging)
            start(plugIn({port, port.portName()}));
    }
    const QList<Plugging *> pluggings = m_pluggings.values();
    for (Plugging *plugging : pluggings)
        if (plugging->target.listed && !present.contains(plugging->name()) && !plugging->running)
            unplugged(plugging);
}

void Station::hold(bool held)
{
    m_held = held;
    if (held)
        return;
    const QList<Plugging *> pluggings = m_pluggings.values();
    for (Plugging *plugging : pluggings)
        if (plugging->queued)
            start(plugging);
}

void Station::stop()
{
    stopTaking();
    endIfDone();
}

void Station::stopTaking()
{
    m_stopping = true;
    if (m_scan)
        m_scan->stop();
    // Loggers waiting for the record are not written now.
    for (Plugging *plugging : qAsConst(m_pluggings))
        plugging->queued = false;
}

void Station::abort()
{
    m_aborted = true;
    for (Plugging *plugging : qAsConst(m_pluggings)) {
        delete plugging->retry;
        plugging->retry = nullptr;
    }
    stop();
    for (Plugging *plugging : qAsConst(m_pluggings))
        if (plugging->running)
            plugging->link->abort(QStringLiteral("interrupted"));
}

int Station::inProgress() const
{
    return int(std::count_if(m_pluggings.cbegin(), m_pluggings.cend(),
                             [](const Plugging *plugging) { return plugging->inProgress(); }));
}

QList<QJsonObject> Station::owed() const
{
    QList<QJsonObject> lines;
    for (const Pending &line : m_owed)
        lines.append(line.entry.record);
    return lines;
}

void Station::signPerson(bool in)
{
    // The person's line names the station whose lines it vouches for, and the computer's zone.
    const PersonKey &person = *m_options.person;
    QJsonObject what {
        {QStringLiteral("station"),
         QLatin1String(m_options.key ? m_options.key->fingerprint() : QByteArray())},
        {QStringLiteral("zone"), Audit::zoneText(QDateTime::currentDateTime().offsetFromUtc())}};
    if (!in)
        what.insert(QStringLiteral("covers"), QJsonValue::Null);
    QJsonObject line {{QLatin1String(in ? "signIn" : "signOut"), what},
                      {QStringLiteral("person"), QLatin1String(person.fingerprint())}};
    Audit::stamp(line, person.name());
    m_people.append({line, &person});
    if (!m_appendTimer->isActive())
        m_appendTimer->start(kRecordBatchMs);
}

void Station::appendRecords()
{
    if (m_appending) {
        // Its end comes back here for what ended meanwhile.
        return;
    }
    // Only lines owed to a failing record: tried again when the retry is due, never to a record
    // changed under the station.
    if (m_ended.isEmpty() && m_people.isEmpty()
        && (m_owed.isEmpty() || m_recordChanged
            || (!m_recordError.isEmpty() && m_appendTimer->isActive())))
        return;
    m_appendTimer->stop();
    // A sign-in goes before the attempts that end with it, a sign-out after them.
    Batch batch;
    for (const Pending &line : qAsConst(m_owed))
        batch.lines.append(line.entry);
    const auto signingOut
        = [](const Audit::Entry &line) { return line.record.contains(QLatin1String("signOut")); };
    for (const Audit::Entry &line : qAsConst(m_people))
        if (!signingOut(line))
            batch.lines.append(line);
    for (const Attempt &attempt : qAsConst(m_ended))
        batch.lines.append({attempt.record, m_options.key.get()});
    for (const Audit::Entry &line : qAsConst(m_people))
        if (signingOut(line))
            batch.lines.append(line);
    batch.ended = std::exchange(m_ended, {});
    m_people.clear();
    if (m_recordChanged) {
        batch.appended = Audit::Appended::Changed;
        appended(batch);
        return;
    }
    // The lock, the write and its flush to the disk are waited for away from the event loop: a
    // network folder or a lock held elsewhere keeps a window answering. The keys outlive it,
    // as the station waits for it before it goes.
    m_appending = true;
    batch.mark = m_mark;
    m_writer.start([this, batch, path = m_options.auditPath]() mutable {
        batch.appended = Audit::append(path, batch.lines, &batch.error, &batch.head, &batch.mark);
        QMetaObject::invokeMethod(
            this, [this, batch] { appended(batch); }, Qt::QueuedConnection);
    });
}

void Station::appended(const Batch &batch)
{
    m_appending = false;
    const QList<Attempt> &ended = batch.ended;
    if (batch.appended == Audit::Appended::Yes) {
        m_head = batch.head;
        m_mark = batch.mark;
        const int restored = m_owed.size();
        for (const Pending &line : qAsConst(m_owed))
            if (!line.logger.isEmpty())
                m_session.setRecorded(line.logger, true);
        m_owed.clear();
        const bool wasFailing = !m_recordError.isEmpty();
        m_recordError.clear();
        for (Attempt attempt : ended) {
            attempt.recorded = true;
            m_session.setRecorded(attempt.logger, true);
            emit attemptEnded(attempt);
        }
        if (wasFailing) {
            emit recordRestored(restored);
            const QList<Plugging *> pluggings = m_pluggings.values();
            for (Plugging *plugging : pluggings)
                if (plugging->queued)
                    start(plugging);
        }
    } else {
        for (const Audit::Entry &line : batch.lines.mid(m_owed.size())) {
            const auto attempt
                = std::find_if(ended.cbegin(), ended.cend(),
                               [&line](const Attempt &a) { return a.record == line.record; });
            m_owed.append({attempt == ended.cend() ? QString() : attempt->logger, line});
        }
        // Changed under the station, the record takes nothing more in this run: a person
        // looks at it first.
        const bool changed = batch.appended == Audit::Appended::Changed && !m_recordChanged;
        if (changed) {
            m_recordChanged = true;
            m_recordError = batch.error;
            emit recordChangedUnder(batch.error);
        } else if (!m_recordChanged) {
            m_recordError = batch.error;
        }
        for (const Attempt &attempt : ended)
            emit attemptEnded(attempt);
        if (!ended.isEmpty() && !m_recordChanged)
            emit recordFailing(batch.error, m_owed.size());
        if (changed)
            stopTaking();
        else if (!m_recordChanged)
            m_appendTimer->start(kRecordRetryMs);
    }
    // What ended while this append was under way goes next.
    if (!m_ended.isEmpty() || !m_people.isEmpty())
        m_appendTimer->start(kRecordBatchMs);
    endIfDone();
}

void Station::endIfDone()
{
    if (m_finished || (m_provisioning && !m_stopping) || inProgress() > 0)
        return;
    // The operator signs out once the run's last attempt is done, covering its lines.
    if (m_options.person && !m_signedOut) {
        m_signedOut = true;
        signPerson(false);
    }
    appendRecords();
    // An append under way comes back here once it is done.
    if (m_appending || m_finished || inProgress() > 0)
        return;
    // A station waits for its record to take what it owes, until it is aborted; a write ends.
    if (!m_owed.isEmpty() && m_provisioning && !m_recordChanged && !m_aborted) {
        if (!m_waiting) {
            m_waiting = true;
            emit waitingForRecordStarted(m_owed.size());
        }
        return;
    }
    m_waiting = false;
    m_finished = true;
    m_appendTimer->stop();
    if (!m_owed.isEmpty()) {
        QList<Audit::Entry> lines;
        for (const Pending &line : qAsConst(m_owed))
            lines.append(line.entry);
        m_kept = Audit::keepOwed(m_options.auditPath, lines);
    }
    // Told once the last logger's own line has been told.
    if (m_everyExpectedVerified)
        emit everyExpectedVerified();
    for (Plugging *plugging : qAsConst(m_pluggings))
        if (plugging->link)
            plugging->link->release();
    emit finished();
}
