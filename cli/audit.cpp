#include "audit.h"

#include "account.h"
#include "files.h"
#include "jsonmembers.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>
#include <QLockFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QThreadPool>
#include <QVector>

#include <algorithm>
#include <cstring>

#include <sodium.h>

namespace {

// Appending holds the lock for a read of the file's end and one write, a few milliseconds. A
// lock file older than kStaleLockMs was left by a program that died holding it (on another
// computer; one of this computer's is known dead at once) and is taken over: the wait is longer,
// so that such a lock never fails a write. Only a lock kept fresh for the whole wait does.
constexpr int kStaleLockMs = 10000;
constexpr int kLockWaitMs = 12000;
// The end of the file read at first to find its last line; doubled while no line starts in it.
constexpr qint64 kTailBytes = 4096;

constexpr QLatin1String kPrev("prev");
constexpr QLatin1String kSeq("seq");
constexpr QLatin1String kSigner("signer");
constexpr QLatin1String kRepair("repair");

QByteArray firstPrev()
{
    return QByteArray(64, '0');
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QString localTime(const QDateTime &time)
{
    return QLocale::c().toString(time.toLocalTime(), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// The cause of a failed write in the words of its user.
QString writeError(const QFile &file)
{
    if (file.error() == QFileDevice::ResourceError)
        return QStringLiteral("no space left on the device");
    QString text = file.errorString();
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

bool openForAppending(QFile &file, QString *error)
{
    // Unbuffered: every write() of QFile is one write to the file.
    if (file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        if (!file.isSequential())
            return true;
        *error = QStringLiteral("the audit record %1 is not a regular file")
                     .arg(native(file.fileName()));
        return false;
    }
    *error = QStringLiteral("cannot open the audit record %1: %2")
                 .arg(native(file.fileName()), file.errorString());
    return false;
}

bool lock(QLockFile &lockFile, const QString &path, QString *error)
{
    lockFile.setStaleLockTime(kStaleLockMs);
    if (lockFile.tryLock(kLockWaitMs))
        return true;
    const QString name = path + QStringLiteral(".lock");
    qint64 pid = 0;
    QString host;
    QString program;
    QString holder = lockFile.getLockInfo(&pid, &host, &program)
        ? QStringLiteral("%1 (process %2 on %3)")
              .arg(program.isEmpty() ? QStringLiteral("another program") : program)
              .arg(pid)
              .arg(host)
        : Files::lockHolder(name);
    if (holder.isEmpty() && lockFile.error() == QLockFile::LockFailedError)
        holder = QStringLiteral("a program that does not name itself in it");
    if (holder.isEmpty()) {
        // QLockFile does not tell why it could not write the file; a full disk is the usual.
        const QString cause = lockFile.error() == QLockFile::PermissionError
            ? QStringLiteral(": permission denied")
            : QStorageInfo(QFileInfo(name).absolutePath()).bytesAvailable() < kTailBytes
            ? QStringLiteral(": no space left on the device")
            : QString();
        *error = QStringLiteral("cannot create the lock file %1 beside the audit record%2")
                     .arg(native(name), cause);
        return false;
    }
    const QDateTime since = QFileInfo(name).lastModified();
    *error = QStringLiteral("the audit record %1 stayed locked for %2 s by %3%4; remove %5 if "
                            "that program is no longer running")
                 .arg(native(path))
                 .arg(kLockWaitMs / 1000)
                 .arg(holder,
                      since.isValid() ? QStringLiteral(", since ") + localTime(since) : QString(),
                      native(name));
    return false;
}

// The file's last line, its newline excluded, read from the end of the file only; the line
// before it too, with before.
std::optional<QByteArray> lastLine(QFile &file, bool *endsWithNewline, QByteArray *before = nullptr)
{
    const qint64 size = file.size();
    *endsWithNewline = size == 0;
    for (qint64 length = kTailBytes;; length *= 2) {
        const qint64 start = qMax<qint64>(0, size - length);
        if (!file.seek(start))
            return std::nullopt;
        QByteArray tail = file.read(size - start);
        if (tail.size() != size - start)
            return std::nullopt;
        if (tail.endsWith('\n')) {
            *endsWithNewline = true;
            tail.chop(1);
        }
        const int newline = tail.lastIndexOf('\n');
        const int previous = newline < 0 ? -1 : tail.lastIndexOf('\n', newline - 1);
        if ((newline >= 0 && (!before || previous >= 0)) || start == 0) {
            if (before)
                *before
                    = newline < 0 ? QByteArray() : tail.mid(previous + 1, newline - previous - 1);
            return tail.mid(newline + 1);
        }
    }
}

bool isWhole(const QByteArray &line, bool endsWithNewline)
{
    return endsWithNewline && (line.isEmpty() || QJsonDocument::fromJson(line).isObject());
}

QString cutMessage(const QString &path, int bytes)
{
    return QStringLiteral("the audit record %1 ends in a line cut short (%2 bytes that are no "
                          "whole line: a write was interrupted); nothing is appended to it until "
                          "\"tempyra-cli audit repair %1\" has carried that line into the record")
        .arg(native(path))
        .arg(bytes);
}

// The record locked against other writers, opened for appending, with its last line read (and
// the line before it, on request).
struct LockedRecord
{
    explicit LockedRecord(const QString &path)
        : lockFile(path + QStringLiteral(".lock"))
        , file(path)
    { }

    bool open(QString *error, QByteArray *before = nullptr)
    {
        if (!lock(lockFile, file.fileName(), error) || !openForAppending(file, error))
            return false;
        const std::optional<QByteArray> tail = lastLine(file, &endsWithNewline, before);
        if (!tail) {
            *error = QStringLiteral("cannot read the end of the audit record %1: %2")
                         .arg(native(file.fileName()), file.errorString());
            return false;
        }
        last = *tail;
        return true;
    }
    bool whole() const { return isWhole(last, endsWithNewline); }

    QLockFile lockFile;
    QFile file;
    QByteArray last;
    bool endsWithNewline = true;
};

// One write of every byte, or the file as it was; the cause in error.
bool writeWhole(QFile &file, const QByteArray &bytes, const QString &path, QString *error)
{
    const qint64 size = file.size();
    qint64 done = 0;
    // QFile reports a short write without its cause; the next write tells it.
    while (done < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += n;
    }
    if (done == bytes.size() && Files::syncToDisk(file))
        return true;
    const QString cause = done == bytes.size()
        ? QStringLiteral("it could not be flushed to the disk")
        : writeError(file);
    // A line that went out in part would cut the record: it is taken back.
    if (done > 0)
        file.resize(size);
    *error = QStringLiteral("cannot write the audit record %1: %2").arg(native(path), cause);
    return false;
}

QString lines(int from, int to)
{
    return from == to ? QStringLiteral("line %1").arg(from)
                      : QStringLiteral("lines %1 to %2").arg(from).arg(to);
}

// What checking a record needs of one line.
struct LineFacts
{
    enum Signature : char { Unsigned, Good, Bad, Untrusted, Unchecked };
    QByteArray hash;
    QByteArray prev; // empty: the line has none
    QByteArray signer;
    QByteArray repairs; // a repair line: the hash of the cut line it carries
    int seq = 0;
    bool valid = false; // a JSON object
    Signature signature = Unsigned;
    QJsonObject repair; // a repair line: the line itself
};

LineFacts facts(const QByteArray &text, const Signature::TrustedKeys *trusted)
{
    LineFacts line;
    line.hash = Audit::lineHash(text);
    JsonMembers members;
    line.valid = members.read(text);
    if (!line.valid)
        return line;
    line.prev = members.string(kPrev).toLatin1();
    line.seq = members.integer(kSeq, 0);
    line.signer = members.string(kSigner).toLatin1();
    if (members.contains(kRepair)) {
        line.repair = QJsonDocument::fromJson(text).object();
        line.repairs = line.repair.value(kRepair)
                           .toObject()
                           .value(QStringLiteral("sha256"))
                           .toString()
                           .toLatin1();
    }
    if (line.signer.isEmpty()) {
        line.signature = LineFacts::Unsigned;
    } else if (!trusted) {
        line.signature = LineFacts::Unchecked;
    } else if (!trusted->contains(line.signer)) {
        line.signature = LineFacts::Untrusted;
    } else {
        // A line that names its signer but no longer has its signature where the signer put it
        // was rewritten (a JSON tool that sorts the keys moves it): it does not match.
        QByteArray body;
        QByteArray signature;
        line.signature = Signature::split(text, &body, &signature)
                && Signature::verify(body, signature, trusted->value(line.signer))
            ? LineFacts::Good
            : LineFacts::Bad;
    }
    return line;
}

// The facts of every line of data. Hashing, parsing and checking signatures take most of the
// time, line by line independently: the lines are shared out between the processor's cores.
QVector<LineFacts> lineFacts(const QByteArray &data, const Signature::TrustedKeys *trusted)
{
    const Audit::Lines split(data);
    QVector<LineFacts> all(split.size());
    const auto work = [&](int from, int to) {
        for (int i = from; i < to; ++i)
            all[i] = facts(split.at(i), trusted);
    };
    QThreadPool pool;
    const int shares = qMax(1, pool.maxThreadCount());
    const int size = (all.size() + shares - 1) / shares;
    for (int from = size; from < all.size(); from += size)
        pool.start([&work, from, size, &all] { work(from, qMin(from + size, all.size())); });
    work(0, qMin(size, all.size()));
    pool.waitForDone();
    return all;
}

// Why line i (from 0) does not carry the hash of the line before it.
QString diagnose(int i, const QVector<LineFacts> &facts, int *faultyLine)
{
    const QByteArray &prev = facts[i].prev;
    const auto found = std::find_if(facts.cbegin(), facts.cend(),
                                    [&prev](const LineFacts &line) { return line.hash == prev; });
    const int j = found == facts.cend() ? -1 : int(found - facts.cbegin());
    *faultyLine = i + 1;
    if (j > i)
        return QStringLiteral("is out of order: it was written after line %1").arg(j + 1);
    if (j >= 0) {
        *faultyLine = j + 2;
        return QStringLiteral("%1 inserted: line %2 was written after line %3")
            .arg(j + 2 == i ? QStringLiteral("was") : lines(j + 2, i) + QStringLiteral(" were"))
            .arg(i + 1)
            .arg(j + 1);
    }
    if (i == 0)
        return QStringLiteral("is not the first line written: lines before it were removed");
    if (prev == firstPrev())
        return QStringLiteral("is the first line of another record, joined to this one");
    if (i + 1 < facts.size() && facts[i + 1].prev != facts[i].hash)
        return QStringLiteral("was changed");
    const int gap = facts[i].seq - facts[i - 1].seq - 1;
    if (gap > 0)
        return QStringLiteral("follows a gap: %1 line(s) before it were removed").arg(gap);
    *faultyLine = i;
    return QStringLiteral("was changed");
}

void checkHeads(const QVector<LineFacts> &facts, const QList<Audit::Head> &heads,
                Audit::Verification &check)
{
    for (const Audit::Head &head : heads) {
        Audit::Verification::HeadCheck result {head, false, {}};
        const auto found
            = std::find_if(facts.cbegin(), facts.cend(), [&head](const LineFacts &line) {
                  return line.valid && !line.prev.isEmpty() && line.seq == head.seq;
              });
        if (found == facts.cend())
            result.problem = QStringLiteral("the record holds no line %1 any more: lines were cut "
                                            "off its end, or it is not the record noted")
                                 .arg(head.seq);
        else if (!found->hash.startsWith(head.hash.toLower()))
            result.problem = QStringLiteral("line %1 (seq %2) is not the line noted: it, or the "
                                            "record before it, was rewritten")
                                 .arg(found - facts.cbegin() + 1)
                                 .arg(head.seq);
        else
            result.held = true;
        check.heads.append(result);
    }
}

} // namespace

namespace Audit {

QString defaultPath()
{
    // As the system writes paths: C:\Users\...\AppData\Roaming\tempyra-cli\audit.jsonl.
    return native(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                  + QStringLiteral("/audit.jsonl"));
}

QString defaultKeyPath()
{
    return native(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                  + QStringLiteral("/station.key"));
}

QString Head::text() const
{
    return QStringLiteral("%1:%2").arg(seq).arg(QString::fromLatin1(hash));
}

std::optional<Head> Head::parse(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^([1-9][0-9]{0,9}):([0-9a-fA-F]{%1,64})$").arg(kShortestHeadHash));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    bool ok = false;
    const int seq = match.captured(1).toInt(&ok);
    if (!match.hasMatch() || !ok)
        return std::nullopt;
    return Head {seq, match.captured(2).toLatin1().toLower()};
}

bool usable(const QString &path, bool createFolder, QString *error, bool *cut)
{
    if (cut)
        *cut = false;
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    if (createFolder)
        QDir().mkpath(folder);
    if (!QFileInfo(folder).isDir()) {
        *error = QStringLiteral("the folder %1 of the audit record does not exist")
                     .arg(native(folder));
        return false;
    }
    // A device, a pipe or a folder would take lines that are never kept, or none at all.
    if (info.exists() && !info.isFile()) {
        *error = QStringLiteral("the audit record %1 is not a regular file%2")
                     .arg(native(path), info.isDir() ? QStringLiteral(" but a folder") : QString());
        return false;
    }
    LockedRecord record(path);
    if (!record.open(error))
        return false;
    if (record.whole())
        return true;
    if (cut)
        *cut = true;
    *error = cutMessage(path, record.last.size());
    return false;
}

void stamp(QJsonObject &record, const QString &operatorName)
{
    static const QString user = Account::userName();
    static const QString host = Account::hostName();
    record[QStringLiteral("time")] = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    record[QStringLiteral("host")] = host;
    record[QStringLiteral("user")] = user;
    record[QStringLiteral("operator")] = operatorName.isEmpty() ? user : operatorName;
}

Lines::Lines(const QByteArray &data)
    : m_data(data)
{
    // The line ends found by memchr: QByteArray::indexOf looks at a byte at a time.
    m_starts.reserve(data.size() / 256);
    for (const char *at = data.constData(), *end = at + data.size(); at < end;) {
        m_starts.append(int(at - data.constData()));
        at = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at)));
        at = at ? at + 1 : end;
    }
}

QByteArray Lines::at(int index) const
{
    const int end = index + 1 < size() ? m_starts[index + 1] - 1
                                       : m_data.size() - (m_data.endsWith('\n') ? 1 : 0);
    return QByteArray::fromRawData(m_data.constData() + m_starts[index], end - m_starts[index]);
}

QByteArray lineHash(const QByteArray &line)
{
    // libsodium's SHA-256 (which needs no initialising) hashes a record about twice as fast as
    // QCryptographicHash's.
    unsigned char hash[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(hash, reinterpret_cast<const unsigned char *>(line.constData()),
                       size_t(line.size()));
    return QByteArray::fromRawData(reinterpret_cast<const char *>(hash), sizeof hash).toHex();
}

QByteArray chainedLine(QJsonObject record, const QByteArray &previous, const StationKey *key)
{
    const QJsonObject last = QJsonDocument::fromJson(previous).object();
    record[kSeq] = last.value(kSeq).toInt() + 1;
    record[kPrev] = QString::fromLatin1(previous.isEmpty() ? firstPrev() : lineHash(previous));
    if (key)
        record[kSigner] = QString::fromLatin1(key->fingerprint());
    const QByteArray body = QJsonDocument(record).toJson(QJsonDocument::Compact);
    return key ? key->signLine(body) : body;
}

bool append(const QString &path, const QList<QJsonObject> &records, const StationKey *key,
            QString *error, Head *head)
{
    LockedRecord record(path);
    if (!record.open(error))
        return false;
    if (!record.whole()) {
        *error = cutMessage(path, record.last.size());
        return false;
    }
    QByteArray previous = record.last;
    QByteArray bytes;
    for (const QJsonObject &line : records) {
        previous = chainedLine(line, previous, key);
        bytes += previous + '\n';
    }
    if (!writeWhole(record.file, bytes, path, error))
        return false;
    if (head)
        *head
            = {QJsonDocument::fromJson(previous).object().value(kSeq).toInt(), lineHash(previous)};
    return true;
}

std::optional<Head> currentHead(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.exists())
        return Head {0, firstPrev()};
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(native(path), file.errorString());
        return std::nullopt;
    }
    bool endsWithNewline = true;
    const std::optional<QByteArray> last = lastLine(file, &endsWithNewline);
    if (!last) {
        *error = QStringLiteral("cannot read %1: %2").arg(native(path), file.errorString());
        return std::nullopt;
    }
    const QJsonObject object = QJsonDocument::fromJson(*last).object();
    return Head {object.contains(kPrev) ? object.value(kSeq).toInt() : 0, lineHash(*last)};
}

bool repair(const QString &path, const StationKey *key, const QString &operatorName, bool *repaired,
            QString *error, Head *head)
{
    *repaired = false;
    LockedRecord record(path);
    QByteArray before;
    if (!record.open(error, &before))
        return false;
    if (record.whole())
        return true;
    // The line number of the cut line, for people: the newlines before it, plus one.
    QFile &file = record.file;
    if (!file.seek(0)) {
        *error = file.errorString();
        return false;
    }
    int lineNumber = record.endsWithNewline ? 0 : 1;
    while (!file.atEnd())
        lineNumber += file.read(1 << 20).count('\n');
    const QByteArray &cut = record.last;
    QJsonObject repair {
        {kRepair,
         QJsonObject {{QStringLiteral("line"), lineNumber},
                      {QStringLiteral("bytes"), cut.size()},
                      {QStringLiteral("sha256"), QString::fromLatin1(lineHash(cut))},
                      {QStringLiteral("fragment"), QString::fromLatin1(cut.toBase64())}}}};
    stamp(repair, operatorName);
    const QByteArray line = chainedLine(repair, before, key);
    if (!writeWhole(file, (record.endsWithNewline ? QByteArray() : QByteArray("\n")) + line + '\n',
                    path, error))
        return false;
    *repaired = true;
    if (head)
        *head = {QJsonDocument::fromJson(line).object().value(kSeq).toInt(), lineHash(line)};
    return true;
}

bool Verification::passed() const
{
    if (result != Whole || badSignatures > 0)
        return false;
    for (const HeadCheck &check : heads)
        if (!check.held)
            return false;
    if (trustChecked)
        for (const Signers &run : signers)
            if (!run.trusted)
                return false;
    return true;
}

namespace {

// Walks the chain from the first line; carried marks the lines cut short that a repair line
// carries.
void walkChain(const QVector<LineFacts> &facts, bool endsWithNewline, Verification &check,
               QVector<bool> &carried)
{
    // The line the next one chains to: a line cut short and carried by a repair line is left
    // out of the chain.
    int previous = -1;
    bool chained = false;
    for (int i = 0; i < facts.size(); ++i) {
        const LineFacts &line = facts[i];
        check.line = i + 1;
        check.result = Verification::Broken;
        const QByteArray expected = previous < 0 ? firstPrev() : facts[previous].hash;
        if (!line.valid) {
            const LineFacts *next = i + 1 < facts.size() ? &facts[i + 1] : nullptr;
            if (next && next->valid && next->repairs == line.hash && next->prev == expected) {
                const QJsonObject repair = next->repair.value(kRepair).toObject();
                check.repairs.append(
                    {i + 1, i + 2, repair.value(QStringLiteral("bytes")).toInt(), next->repair});
                carried[i] = true;
                continue;
            }
            check.problem = next || endsWithNewline
                ? QStringLiteral("is not valid JSON")
                : QStringLiteral("is cut short (not valid JSON): a write was interrupted; "
                                 "\"tempyra-cli audit repair\" carries it into the record");
            return;
        }
        if (line.prev.isEmpty() && chained) {
            check.problem = QStringLiteral("has no \"prev\": it was inserted, or changed");
            return;
        }
        if (!line.prev.isEmpty() && line.prev != expected) {
            check.problem = diagnose(i, facts, &check.line);
            return;
        }
        chained = chained || !line.prev.isEmpty();
        check.unchained += chained ? 0 : 1;
        previous = i;
    }
    check.line = 0;
    check.result = chained || facts.isEmpty() ? Verification::Whole : Verification::Unchained;
}

} // namespace

Verification verify(const QByteArray &data, const Checks &checks)
{
    const QVector<LineFacts> facts = lineFacts(data, checks.trusted);
    Verification check;
    check.lines = facts.size();
    check.trustChecked = checks.trusted != nullptr;
    if (!facts.isEmpty() && !facts.last().prev.isEmpty())
        check.head = {facts.last().seq, facts.last().hash};
    QVector<bool> carried(facts.size());
    walkChain(facts, data.endsWith('\n'), check, carried);
    checkHeads(facts, checks.heads, check);

    // Runs of lines by signer; a line cut short goes with the repair line that carries it.
    for (int i = 0; i < facts.size(); ++i) {
        const LineFacts &line = carried[i] ? facts[i + 1] : facts[i];
        if (!carried[i] && line.signature == LineFacts::Bad && check.badSignatures++ == 0)
            check.badSignature = i + 1;
        const QByteArray signer
            = line.signature == LineFacts::Unsigned ? QByteArray() : line.signer;
        const bool trusted = line.signature == LineFacts::Good || line.signature == LineFacts::Bad;
        if (check.signers.isEmpty() || check.signers.last().signer != signer
            || check.signers.last().trusted != trusted)
            check.signers.append({i + 1, i + 1, signer, trusted});
        check.signers.last().last = i + 1;
    }
    return check;
}

std::optional<Verification> verifyFile(const QString &path, const Checks &checks, QString *error,
                                       QByteArray *data)
{
    // Lines keeps its offsets in an int: a record is read whole up to 1 GB, some millions of
    // lines.
    constexpr qint64 kLargestRecord = qint64(1) << 30;
    std::optional<QByteArray> bytes = Files::readAtMost(
        path, kLargestRecord, QStringLiteral("the most a record may be"), error);
    if (!bytes) {
        *error = QStringLiteral("cannot read %1: %2").arg(native(path), *error);
        return std::nullopt;
    }
    const Verification check = verify(*bytes, checks);
    if (data)
        *data = std::move(*bytes);
    return check;
}

} // namespace Audit
