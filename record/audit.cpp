#include "record/audit.h"

#include "record/account.h"
#include "record/auditcheck.h"
#include "record/files.h"
#include "record/jsonmembers.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QLockFile>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QStorageInfo>

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
// The end of the file read at first to find its last lines; doubled while they are not in it.
constexpr qint64 kTailBytes = 4096;
// A record is read whole to be checked, and Lines keeps its offsets in an int: up to 1 GB, some
// millions of lines.
constexpr qint64 kLargestRecord = qint64(1) << 30;

constexpr QLatin1String kPrev("prev");
constexpr QLatin1String kSeq("seq");
constexpr QLatin1String kSigner("signer");
constexpr QLatin1String kSignature("signature");
constexpr QLatin1String kRepair("repair");
constexpr QLatin1String kLate("late");
constexpr QLatin1String kOwedTo("owedTo");
constexpr QLatin1String kSignOut("signOut");
constexpr QLatin1String kSignOff("signOff");
constexpr QLatin1String kCovers("covers");
constexpr qint64 kMsecsPerDay = 86400000;
constexpr qint64 kEpochJulianDay = 2440588; // 1970-01-01

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

bool isReadable(const QByteArray &line)
{
    JsonMembers members;
    return members.read(line);
}

Audit::Head headOf(const QByteArray &line)
{
    JsonMembers members;
    members.read(line);
    return {members.contains(kPrev) ? members.integer(kSeq, 0) : 0, Audit::lineHash(line)};
}

// The hash of the line a repair line carries.
QByteArray carriedHash(const JsonMembers &repairLine)
{
    return QJsonDocument::fromJson(repairLine.raw(kRepair))
        .object()
        .value(QStringLiteral("sha256"))
        .toString()
        .toLatin1();
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

// The end of a file: its last lines that are not blank, without their line ends, the last one
// last, read back from the end only.
struct Tail
{
    QList<QByteArray> lines;
    bool endsWithNewline = true;
    bool fromStart = false; // lines are all the file has
};

std::optional<Tail> readTail(QFile &file, int count)
{
    const qint64 size = file.size();
    for (qint64 length = kTailBytes;; length *= 2) {
        const qint64 start = qMax<qint64>(0, size - length);
        if (!file.seek(start))
            return std::nullopt;
        const QByteArray bytes = file.read(size - start);
        if (bytes.size() != size - start)
            return std::nullopt;
        Tail tail;
        tail.endsWithNewline = size == 0 || bytes.endsWith('\n');
        const Audit::Lines lines(bytes);
        // The first line read may have begun before start.
        for (int i = start > 0 ? 1 : 0; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i);
            if (!Audit::isBlank(line))
                tail.lines.append(QByteArray(line.constData(), line.size()));
        }
        if (tail.lines.size() >= count || start == 0) {
            tail.fromStart = start == 0;
            if (tail.lines.size() > count)
                tail.lines.erase(tail.lines.begin(), tail.lines.end() - count);
            return tail;
        }
    }
}

QString cutMessage(const QString &path, int line, int bytes, int more)
{
    return QStringLiteral("the audit record %1 holds a line it cannot read: line %2 (%3 bytes "
                          "that are no whole line: a write was interrupted, or the line was "
                          "garbled)%4; nothing is appended to it until \"tempyra-cli audit "
                          "repair %1\" has carried it into the record")
        .arg(native(path))
        .arg(line)
        .arg(bytes)
        .arg(more > 0 ? QStringLiteral(" and %1 more").arg(more) : QString());
}

QString tailCutMessage(const QString &path, int bytes)
{
    return QStringLiteral("the audit record %1 ends in a line cut short (%2 bytes that are no "
                          "whole line: a write was interrupted); nothing is appended to it until "
                          "\"tempyra-cli audit repair %1\" has carried that line into the record")
        .arg(native(path))
        .arg(bytes);
}

// The lines of a record that cannot be read and that no repair line carries.
struct Scan
{
    QList<int> uncarried; // from 0
    int lastReadable = -1;
    int last = -1; // the last line that is not blank
    QSet<QByteArray> late; // the owed lines appended late, by the hash "late" gives
};

Scan scan(const Audit::Lines &lines)
{
    Scan found;
    QList<int> unreadable;
    QHash<QByteArray, int> carried; // by the hash of the line carried: how many repair lines
    JsonMembers members;
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i);
        if (Audit::isBlank(line))
            continue;
        found.last = i;
        if (!members.read(line)) {
            unreadable.append(i);
            continue;
        }
        found.lastReadable = i;
        if (members.contains(kRepair))
            ++carried[carriedHash(members)];
        if (members.contains(kLate))
            found.late.insert(QJsonDocument::fromJson(members.raw(kLate))
                                  .object()
                                  .value(QStringLiteral("sha256"))
                                  .toString()
                                  .toLatin1());
    }
    for (int i : qAsConst(unreadable)) {
        const auto it = carried.find(Audit::lineHash(lines.at(i)));
        if (it != carried.end() && *it > 0)
            --*it;
        else
            found.uncarried.append(i);
    }
    return found;
}

// Reads a file whole, up to limit bytes: refused beyond, before more is read.
std::optional<QByteArray> readWhole(QFile &file, qint64 limit, QString *error)
{
    const QString path = native(file.fileName());
    if (!file.isSequential() && file.size() > limit) {
        *error = QStringLiteral("cannot read %1: larger than %2 GB, the most a record may be")
                     .arg(path)
                     .arg(limit >> 30);
        return std::nullopt;
    }
    if (!file.isSequential() && !file.seek(0)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QByteArray bytes = file.read(limit + 1);
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    if (bytes.size() > limit) {
        *error = QStringLiteral("cannot read %1: larger than %2 GB, the most a record may be")
                     .arg(path)
                     .arg(limit >> 30);
        return std::nullopt;
    }
    return bytes;
}

// The record locked against other writers and opened for appending.
struct LockedRecord
{
    explicit LockedRecord(const QString &path)
        : lockFile(path + QStringLiteral(".lock"))
        , file(path)
    { }

    // existing: the record must be there already; gone tells when it is not.
    bool open(QString *error, bool existing = false)
    {
        if (!lock(lockFile, file.fileName(), error))
            return false;
        existed = file.exists();
        // Unbuffered: every write() of QFile is one write to the file.
        const auto mode = QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered;
        if (file.open(existing ? mode | QIODevice::ExistingOnly : mode)) {
            if (!file.isSequential())
                return true;
            *error = QStringLiteral("the audit record %1 is not a regular file")
                         .arg(native(file.fileName()));
            return false;
        }
        gone = existing && !file.exists();
        *error = QStringLiteral("cannot open the audit record %1: %2")
                     .arg(native(file.fileName()), file.errorString());
        return false;
    }
    std::optional<Tail> tail(int count, QString *error)
    {
        std::optional<Tail> read = readTail(file, count);
        if (!read)
            *error = QStringLiteral("cannot read the end of the audit record %1: %2")
                         .arg(native(file.fileName()), file.errorString());
        return read;
    }
    std::optional<QByteArray> whole(QString *error)
    {
        return readWhole(file, kLargestRecord, error);
    }
    // Reads the whole record and scans its lines. A line that cannot be read and that no repair
    // line carries refuses it, with the advice to repair it, unless mending such lines is the
    // work.
    bool scanned(QString *error, bool mending = false)
    {
        std::optional<QByteArray> read = whole(error);
        if (!read)
            return false;
        data = std::move(*read);
        lines.emplace(data);
        found = scan(*lines);
        if (found.uncarried.isEmpty() || mending)
            return true;
        const int first = found.uncarried.first();
        *error = found.uncarried.size() == 1 && first == found.last && !data.endsWith('\n')
            ? tailCutMessage(file.fileName(), lines->at(first).size())
            : cutMessage(file.fileName(), first + 1, lines->at(first).size(),
                         found.uncarried.size() - 1);
        return false;
    }
    // The last line that can be read, the one a repair line or a late one chains on from.
    QByteArray lastReadable() const
    {
        return found.lastReadable < 0 ? QByteArray() : QByteArray(lines->at(found.lastReadable));
    }

    QLockFile lockFile;
    QFile file;
    QByteArray data;
    std::optional<Audit::Lines> lines;
    Scan found;
    bool existed = false; // when the lock was had
    bool gone = false;
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

// Chains entries on from previous (the record's last line that can be read; empty for none),
// each signed with its key, and writes them after what the file holds, its last newline
// completed.
bool appendChained(QFile &file, bool endsWithNewline, QByteArray previous,
                   const QList<Audit::Entry> &entries, QString *error, Audit::Head *head)
{
    QByteArray bytes = endsWithNewline ? QByteArray() : QByteArrayLiteral("\n");
    for (const Audit::Entry &entry : entries) {
        previous = Audit::chainedLine(entry.record, previous, entry.key);
        bytes += previous + '\n';
    }
    if (!writeWhole(file, bytes, file.fileName(), error))
        return false;
    if (head)
        *head = headOf(previous);
    return true;
}

QList<Audit::Entry> entries(const QList<QJsonObject> &records, const SigningKey *key)
{
    QList<Audit::Entry> all;
    for (const QJsonObject &record : records)
        all.append({record, key});
    return all;
}

enum class Holds { Yes, Changed, Cut };

// Whether the record still holds the line mark names, last or followed by lines chained after
// it, in the same file. error tells what became of it when not.
Holds holds(LockedRecord &record, const Audit::Mark &mark, Tail *tail, QString *error)
{
    const QString path = native(record.file.fileName());
    const QString ours
        = QStringLiteral("line seq %1, the last this station appended or found").arg(mark.last.seq);
    const QByteArray identity = Files::identity(record.file);
    if (!mark.file.isEmpty() && !identity.isEmpty() && identity != mark.file) {
        *error = QStringLiteral("the audit record %1 was replaced by another file under this "
                                "station (after %2 there)")
                     .arg(path, ours);
        return Holds::Changed;
    }
    for (int count = 4;; count *= 4) {
        std::optional<Tail> read = record.tail(count, error);
        if (!read)
            return Holds::Cut;
        *tail = *read;
        const QList<QByteArray> &lines = tail->lines;
        if (!mark.lines)
            return lines.isEmpty() || isReadable(lines.last()) ? Holds::Yes : Holds::Cut;
        if (lines.isEmpty()) {
            *error = QStringLiteral("the audit record %1 holds no line any more, though it held "
                                    "%2: it was emptied under this station")
                         .arg(path, ours);
            return Holds::Changed;
        }
        if (!isReadable(lines.last()))
            return Holds::Cut;
        // Back from the end, each line chained to the one before it, to the line marked.
        QByteArray expected; // the hash the line after this one was chained to
        QSet<QByteArray> carried;
        JsonMembers members;
        for (int i = lines.size() - 1; i >= 0; --i) {
            const QByteArray hash = Audit::lineHash(lines[i]);
            if (!members.read(lines[i])) {
                if (!carried.contains(hash)) {
                    *error = QStringLiteral("the audit record %1 holds a line it cannot read "
                                            "after %2")
                                 .arg(path, ours);
                    return Holds::Changed;
                }
                expected.clear(); // the line after a lost one chained to its lost bytes
                continue;
            }
            if (!expected.isEmpty() && hash != expected) {
                *error = QStringLiteral("the audit record %1 was changed under this station: the "
                                        "lines after %2 no longer chain on from it")
                             .arg(path, ours);
                return Holds::Changed;
            }
            if (hash == mark.last.hash)
                return Holds::Yes;
            const int seq = members.integer(kSeq, 0);
            if (seq <= mark.last.seq) {
                *error = seq < mark.last.seq && i + 1 == lines.size()
                    ? QStringLiteral("the audit record %1 was cut short under this station: it "
                                     "ends at seq %2, before %3")
                          .arg(path)
                          .arg(seq)
                          .arg(ours)
                    : QStringLiteral("the audit record %1 was changed under this station: it no "
                                     "longer holds %2")
                          .arg(path, ours);
                return Holds::Changed;
            }
            if (members.contains(kRepair))
                carried.insert(carriedHash(members));
            expected = members.string(kPrev).toLatin1();
        }
        if (tail->fromStart) {
            *error = QStringLiteral("the audit record %1 was changed under this station: it no "
                                    "longer holds %2")
                         .arg(path, ours);
            return Holds::Changed;
        }
    }
}

QString timeStamp()
{
    return QLocale::c().toString(QDateTime::currentDateTimeUtc(),
                                 QStringLiteral("yyyyMMdd'T'hhmmss'Z'"));
}

// Writes bytes to a new file at path, flushed to the disk, or nothing.
bool writeNew(const QString &path, const QByteArray &bytes, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        *error = QStringLiteral("cannot create %1: %2").arg(native(path), file.errorString());
        return false;
    }
    if (file.write(bytes) == bytes.size() && file.flush() && Files::syncToDisk(file))
        return true;
    *error = QStringLiteral("cannot write %1: %2").arg(native(path), writeError(file));
    file.close();
    file.remove();
    return false;
}

// The station's own folder, tempyra-cli's application data folder whichever of the station's
// programs asks: the window and the terminal share one record and one key.
QString stationFolder()
{
    const QString own = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return QFileInfo(own).path() + QStringLiteral("/tempyra-cli");
}

} // namespace

namespace Audit {

QString defaultPath()
{
    // As the system writes paths: C:\Users\...\AppData\Roaming\tempyra-cli\audit.jsonl.
    return native(stationFolder() + QStringLiteral("/audit.jsonl"));
}

QString defaultKeyPath()
{
    return native(stationFolder() + QStringLiteral("/station.key"));
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

std::optional<Usable> usable(const QString &path, bool createFolder, QString *error, bool *cut)
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
        return std::nullopt;
    }
    // A device, a pipe or a folder would take lines that are never kept, or none at all.
    if (info.exists() && !info.isFile()) {
        *error = QStringLiteral("the audit record %1 is not a regular file%2")
                     .arg(native(path), info.isDir() ? QStringLiteral(" but a folder") : QString());
        return std::nullopt;
    }
    LockedRecord record(path);
    // Every line is looked at once, before the first logger: a line that cannot be read, at the
    // end or anywhere, is mended before lines are chained after it.
    if (!record.open(error))
        return std::nullopt;
    if (!record.scanned(error)) {
        if (cut)
            *cut = !record.found.uncarried.isEmpty();
        return std::nullopt;
    }
    const Scan &found = record.found;
    Usable result;
    result.newlineMissing = !record.data.isEmpty() && !record.data.endsWith('\n') && found.last >= 0
        && found.last + 1 == record.lines->size();
    if (found.last >= 0)
        result.mark = {true, headOf(record.lines->at(found.last)), Files::identity(record.file)};
    else if (record.existed)
        result.mark.file = Files::identity(record.file);
    if (!record.existed) {
        // Made by the open above: a record starts when its first line is written.
        record.file.close();
        record.file.remove();
    }
    return result;
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

int Lines::end(int index) const
{
    return index + 1 < size() ? m_starts[index + 1] - 1
                              : m_data.size() - (m_data.endsWith('\n') ? 1 : 0);
}

bool Lines::endsInCr(int index) const
{
    const int last = end(index);
    return last > m_starts[index] && m_data[last - 1] == '\r';
}

QByteArray Lines::at(int index) const
{
    const int start = m_starts[index];
    const int length = end(index) - start - (endsInCr(index) ? 1 : 0);
    return QByteArray::fromRawData(m_data.constData() + start, length);
}

bool isBlank(const QByteArray &line)
{
    return std::all_of(line.cbegin(), line.cend(), [](char c) { return c == ' ' || c == '\t'; });
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

QByteArray chainedLine(QJsonObject record, const QByteArray &previous, const SigningKey *key)
{
    JsonMembers last;
    last.read(previous);
    // A person's sign-out or sign-off covers the record up to the line before it, unless it
    // names an earlier head.
    for (const QLatin1String &member : {kSignOut, kSignOff}) {
        QJsonObject covering = record.value(member).toObject();
        if (record.contains(member) && covering.value(kCovers).isNull()) {
            covering[kCovers] = headOf(previous).text();
            record[member] = covering;
        }
    }
    record[kSeq] = last.integer(kSeq, 0) + 1;
    record[kPrev] = QString::fromLatin1(previous.isEmpty() ? firstPrev() : lineHash(previous));
    if (key)
        record[kSigner] = QString::fromLatin1(key->fingerprint());
    const QByteArray body = QJsonDocument(record).toJson(QJsonDocument::Compact);
    return key ? key->signLine(body) : body;
}

Appended append(const QString &path, const QList<QJsonObject> &records, const SigningKey *key,
                QString *error, Head *head, Mark *mark)
{
    return append(path, entries(records, key), error, head, mark);
}

Appended append(const QString &path, const QList<Entry> &entries, QString *error, Head *head,
                Mark *mark)
{
    LockedRecord record(path);
    if (!record.open(error, mark && mark->lines)) {
        if (!record.gone)
            return Appended::Failed;
        *error = QStringLiteral("the audit record %1 is gone: it was moved or deleted under this "
                                "station, after line seq %2, the last it appended or found")
                     .arg(native(path))
                     .arg(mark->last.seq);
        return Appended::Changed;
    }
    Tail tail;
    const Holds held = mark ? holds(record, *mark, &tail, error) : Holds::Yes;
    if (held == Holds::Changed)
        return Appended::Changed;
    if (!mark) {
        const std::optional<Tail> read = record.tail(1, error);
        if (!read)
            return Appended::Failed;
        tail = *read;
    }
    if (held == Holds::Cut || (!tail.lines.isEmpty() && !isReadable(tail.lines.last()))) {
        if (held != Holds::Cut || !tail.lines.isEmpty())
            *error = tailCutMessage(path, tail.lines.last().size());
        return Appended::Failed;
    }
    Head last;
    if (!appendChained(record.file, tail.endsWithNewline,
                       tail.lines.isEmpty() ? QByteArray() : tail.lines.last(), entries, error,
                       &last))
        return Appended::Failed;
    if (head)
        *head = last;
    if (mark)
        *mark = {true, last, Files::identity(record.file)};
    return Appended::Yes;
}

std::optional<Head> currentHead(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.exists())
        return Head {0, firstPrev()};
    std::optional<Tail> tail;
    if (!file.open(QIODevice::ReadOnly) || !(tail = readTail(file, 1))) {
        *error = QStringLiteral("cannot read %1: %2").arg(native(path), file.errorString());
        return std::nullopt;
    }
    return tail->lines.isEmpty() ? Head {0, firstPrev()} : headOf(tail->lines.last());
}

std::optional<Repaired> repair(const QString &path, const SigningKey *key,
                               const QString &operatorName, QString *error)
{
    if (!QFileInfo(path).isFile()) {
        *error = QFileInfo::exists(path)
            ? QStringLiteral("the audit record %1 is not a regular file").arg(native(path))
            : QStringLiteral("there is no audit record %1").arg(native(path));
        return std::nullopt;
    }
    LockedRecord record(path);
    if (!record.open(error, true) || !record.scanned(error, true))
        return std::nullopt;
    const Lines &lines = *record.lines;
    const Scan &found = record.found;
    Repaired done;
    const bool endsWithNewline = record.data.isEmpty() || record.data.endsWith('\n');
    done.newline = !endsWithNewline && found.last >= 0 && found.last == found.lastReadable;
    QList<QJsonObject> repairs;
    for (int i : found.uncarried) {
        const QByteArray cut = lines.at(i);
        QJsonObject repair {
            {kRepair,
             QJsonObject {{QStringLiteral("line"), i + 1},
                          {QStringLiteral("bytes"), cut.size()},
                          {QStringLiteral("sha256"), QString::fromLatin1(lineHash(cut))},
                          {QStringLiteral("fragment"), QString::fromLatin1(cut.toBase64())}}}};
        stamp(repair, operatorName);
        repairs.append(repair);
        done.lines.append(i + 1);
    }
    if (repairs.isEmpty() && endsWithNewline)
        return done;
    if (repairs.isEmpty()) {
        if (!writeWhole(record.file, QByteArrayLiteral("\n"), path, error))
            return std::nullopt;
        done.head = headOf(lines.at(found.last));
        return done;
    }
    if (!appendChained(record.file, endsWithNewline, record.lastReadable(), entries(repairs, key),
                       error, &done.head))
        return std::nullopt;
    return done;
}

Owed keepOwed(const QString &recordPath, const QList<Entry> &entries)
{
    Owed owed;
    QByteArray previous;
    for (const Entry &entry : entries) {
        QJsonObject record = entry.record;
        record[kOwedTo] = native(QFileInfo(recordPath).absoluteFilePath());
        previous = chainedLine(record, previous, entry.key);
        owed.lines += previous + '\n';
    }
    const QString name
        = QFileInfo(recordPath).completeBaseName() + QStringLiteral(".owed-") + timeStamp();
    const QString folders[]
        = {QFileInfo(recordPath).absolutePath(), stationFolder() + QStringLiteral("/owed")};
    QStringList errors;
    for (const QString &folder : folders) {
        QDir().mkpath(folder);
        QString path = QDir(folder).filePath(name + QStringLiteral(".jsonl"));
        for (int n = 2; QFileInfo::exists(path); ++n)
            path = QDir(folder).filePath(name + QStringLiteral("-%1.jsonl").arg(n));
        QString error;
        if (writeNew(path, owed.lines, &error)) {
            owed.path = native(path);
            return owed;
        }
        errors.append(error);
    }
    owed.error = errors.join(QLatin1String("; "));
    return owed;
}

std::optional<AppendedOwed> appendOwed(const QString &recordPath, const QString &owedPath,
                                       const SigningKey *key, const Trust::Keys &trusted,
                                       const QString &operatorName, QString *error)
{
    // The owed file proves itself first: its own chain whole, and each line signed by a key
    // trusted here, or by none.
    const std::optional<QByteArray> owedData = readRecord(owedPath, error);
    if (!owedData)
        return std::nullopt;
    Trust::Keys keys = trusted;
    if (key)
        keys.insert(key->fingerprint(),
                    {key->fingerprint(), key->publicKey(), {}, {}, true, {}, Trust::kNever});
    const Verification check = verify(*owedData, {&keys, {}});
    const QString owedName = native(owedPath);
    for (const Verification::Fault &fault : check.faults) {
        if (fault.kind == Verification::Fault::Unsigned)
            continue;
        *error = QStringLiteral("%1: line %2 %3%4")
                     .arg(owedName)
                     .arg(fault.line)
                     .arg(fault.problem,
                          fault.kind == Verification::Fault::Untrusted
                              ? QStringLiteral(" (give its public key with --trust)")
                              : QString());
        return std::nullopt;
    }
    QList<QPair<QByteArray, QJsonObject>> owed; // each line's hash and content
    const Lines owedLines(*owedData);
    for (int i = 0; i < owedLines.size(); ++i) {
        const QByteArray line = owedLines.at(i);
        if (isBlank(line))
            continue;
        QJsonObject object = QJsonDocument::fromJson(line).object();
        if (!object.contains(kOwedTo) || object.contains(kRepair)) {
            *error = QStringLiteral("%1: line %2 is no line owed to a record (it names no "
                                    "\"owedTo\")")
                         .arg(owedName)
                         .arg(i + 1);
            return std::nullopt;
        }
        owed.append({lineHash(line), object});
    }
    if (owed.isEmpty()) {
        *error = QStringLiteral("%1 holds no owed line").arg(owedName);
        return std::nullopt;
    }

    LockedRecord record(recordPath);
    if (!record.open(error) || !record.scanned(error))
        return std::nullopt;
    AppendedOwed done;
    QList<QJsonObject> records;
    int number = 0;
    for (const auto &line : qAsConst(owed)) {
        ++number;
        if (record.found.late.contains(line.first)) {
            ++done.already;
            continue;
        }
        QJsonObject object = line.second;
        QJsonObject late {{QStringLiteral("file"), QFileInfo(owedPath).fileName()},
                          {QStringLiteral("line"), number},
                          {QStringLiteral("sha256"), QString::fromLatin1(line.first)},
                          {QStringLiteral("owedTo"), object.value(kOwedTo)}};
        if (object.contains(kSigner))
            late.insert(QStringLiteral("signer"), object.value(kSigner));
        stamp(late, operatorName);
        for (const QLatin1String &member : {kSeq, kPrev, kSigner, kSignature, kOwedTo})
            object.remove(member);
        object.insert(kLate, late);
        records.append(object);
    }
    done.appended = records.size();
    if (records.isEmpty())
        return done;
    if (!appendChained(record.file, record.data.isEmpty() || record.data.endsWith('\n'),
                       record.lastReadable(), entries(records, key), error, &done.head))
        return std::nullopt;
    return done;
}

std::optional<QByteArray> readRecord(const QString &path, QString *error)
{
    std::optional<QByteArray> bytes = Files::readAtMost(
        path, kLargestRecord, QStringLiteral("the most a record may be"), error);
    if (!bytes) {
        *error = QStringLiteral("cannot read %1: %2").arg(native(path), *error);
        return std::nullopt;
    }
    return bytes;
}

QString deviceInFragment(const QByteArray &bytes)
{
    static const QRegularExpression device(
        QStringLiteral("\"device\"\\s*:\\s*(\"(?:[^\"\\\\\\x00-\\x1f]|\\\\.)*\")"));
    const QRegularExpressionMatch match = device.match(QString::fromUtf8(bytes));
    if (!match.hasMatch())
        return {};
    // JSON's escapes read by JSON's own reader.
    return QJsonDocument::fromJson('[' + match.captured(1).toUtf8() + ']')
        .array()
        .first()
        .toString();
}

QString zoneText(int offsetSecs)
{
    if (offsetSecs == 0)
        return QStringLiteral("UTC");
    const int minutes = qAbs(offsetSecs) / 60;
    return QStringLiteral("UTC%1%2:%3")
        .arg(QLatin1Char(offsetSecs < 0 ? '-' : '+'))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

int zoneOffset(const QString &zone)
{
    static const QRegularExpression form(QStringLiteral("^UTC([+-])([0-9]{2}):([0-9]{2})$"));
    const QRegularExpressionMatch match = form.match(zone);
    if (!match.hasMatch())
        return 0;
    const int secs = (match.captured(2).toInt() * 60 + match.captured(3).toInt()) * 60;
    return match.captured(1) == QLatin1String("-") ? -secs : secs;
}

qint64 lineTime(const QString &text)
{
    // Read digit by digit: a record has many lines.
    const auto number = [&text](int from, int count) {
        int value = 0;
        for (int i = from; i < from + count; ++i) {
            const int digit = text[i].unicode() - '0';
            if (digit < 0 || digit > 9)
                return -1;
            value = value * 10 + digit;
        }
        return value;
    };
    if (text.size() == 24 && text[4] == QLatin1Char('-') && text[7] == QLatin1Char('-')
        && text[10] == QLatin1Char('T') && text[13] == QLatin1Char(':')
        && text[16] == QLatin1Char(':') && text[19] == QLatin1Char('.')
        && text[23] == QLatin1Char('Z')) {
        const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
        const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
        const int msec = number(20, 3);
        const QDate date(year, month, day);
        if (year > 0 && date.isValid() && hour >= 0 && hour < 24 && minute >= 0 && minute < 60
            && second >= 0 && second < 60 && msec >= 0)
            return (date.toJulianDay() - kEpochJulianDay) * kMsecsPerDay
                + ((hour * 60 + minute) * 60 + second) * 1000 + msec;
    }
    const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    return time.isValid() ? time.toMSecsSinceEpoch() : kNoTime;
}

} // namespace Audit
