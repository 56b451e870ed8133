#include "audit.h"

#include "account.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QLockFile>
#include <QStandardPaths>
#include <QThreadPool>
#include <QVector>

#include <algorithm>

namespace {

// Appending holds the lock for a read of the file's end and one write, a few milliseconds. A
// lock file older than kStaleLockMs was left by a program that died holding it (on another
// computer; one of this computer's is known dead at once) and is taken over: the wait is longer,
// so that such a lock never fails a write. Only a lock kept fresh for the whole wait does.
constexpr int kStaleLockMs = 10000;
constexpr int kLockWaitMs = 12000;
// The end of the file read at first to find its last line; doubled while no line starts in it.
constexpr qint64 kTailBytes = 4096;

const QString kPrev = QStringLiteral("prev");
const QString kSeq = QStringLiteral("seq");

QByteArray firstPrev()
{
    return QByteArray(64, '0');
}

bool openForAppending(QFile &file, QString *error)
{
    // Unbuffered: every write() of QFile is one write to the file.
    if (file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        return true;
    *error = QStringLiteral("cannot open the audit record %1: %2")
                 .arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
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
    if (lockFile.error() == QLockFile::LockFailedError
        && lockFile.getLockInfo(&pid, &host, &program))
        *error = QStringLiteral("the audit record %1 stayed locked for %2 s by %3 (process %4 on "
                                "%5); remove %6 if that program is no longer running")
                     .arg(QDir::toNativeSeparators(path))
                     .arg(kLockWaitMs / 1000)
                     .arg(program.isEmpty() ? QStringLiteral("another program") : program)
                     .arg(pid)
                     .arg(host, QDir::toNativeSeparators(name));
    else
        *error = QStringLiteral("cannot create the lock file %1 beside the audit record")
                     .arg(QDir::toNativeSeparators(name));
    return false;
}

// The file's last line, its newline excluded, read from the end of the file only.
std::optional<QByteArray> lastLine(QFile &file, bool *endsWithNewline)
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
        if (newline >= 0 || start == 0)
            return tail.mid(newline + 1);
    }
}

QString lines(int from, int to)
{
    return from == to ? QStringLiteral("line %1").arg(from)
                      : QStringLiteral("lines %1 to %2").arg(from).arg(to);
}

// What checking the chain needs of one line.
struct LineFacts
{
    QByteArray hash;
    QByteArray prev; // empty: the line has none
    int seq = 0;
    bool valid = false; // a JSON object
    QJsonObject object;
};

// The facts of every line of data. Hashing and parsing take most of the time, line by line
// independently: the lines are shared out between the processor's cores.
QVector<LineFacts> lineFacts(const QByteArray &data, bool keepObjects)
{
    QVector<int> starts {0};
    for (int i = data.indexOf('\n'); i >= 0 && i + 1 < data.size(); i = data.indexOf('\n', i + 1))
        starts.append(i + 1);
    if (data.isEmpty())
        starts.clear();
    QVector<LineFacts> facts(starts.size());
    const auto work = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            const int end = i + 1 < starts.size()
                ? starts[i + 1] - 1
                : (data.endsWith('\n') ? data.size() - 1 : data.size());
            const QByteArray text
                = QByteArray::fromRawData(data.constData() + starts[i], end - starts[i]);
            LineFacts &line = facts[i];
            line.hash = Audit::lineHash(text);
            const QJsonDocument document = QJsonDocument::fromJson(text);
            line.valid = document.isObject();
            const QJsonObject object = document.object();
            line.prev = object.value(kPrev).toString().toLatin1();
            line.seq = object.value(kSeq).toInt();
            if (keepObjects)
                line.object = object;
        }
    };
    QThreadPool pool;
    const int shares = qMax(1, pool.maxThreadCount());
    const int size = (facts.size() + shares - 1) / shares;
    for (int from = size; from < facts.size(); from += size)
        pool.start([&work, from, size, &facts] { work(from, qMin(from + size, facts.size())); });
    work(0, qMin(size, facts.size()));
    pool.waitForDone();
    return facts;
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

} // namespace

namespace Audit {

QString defaultPath()
{
    // As the system writes paths: C:\Users\...\AppData\Roaming\tempyra-cli\audit.jsonl.
    return QDir::toNativeSeparators(
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
        + QStringLiteral("/audit.jsonl"));
}

bool usable(const QString &path, bool createFolder, QString *error)
{
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    if (createFolder)
        QDir().mkpath(folder);
    if (!QFileInfo(folder).isDir()) {
        *error = QStringLiteral("the folder %1 of the audit record does not exist")
                     .arg(QDir::toNativeSeparators(folder));
        return false;
    }
    if (info.isDir()) {
        *error
            = QStringLiteral("the audit record %1 is a folder").arg(QDir::toNativeSeparators(path));
        return false;
    }
    QFile file(path);
    QLockFile lockFile(path + QStringLiteral(".lock"));
    return openForAppending(file, error) && lock(lockFile, path, error);
}

QByteArray lineHash(const QByteArray &line)
{
    return QCryptographicHash::hash(line, QCryptographicHash::Sha256).toHex();
}

QByteArray chainedLine(QJsonObject record, const QByteArray &previous)
{
    const QJsonObject last = QJsonDocument::fromJson(previous).object();
    record[kSeq] = last.value(kSeq).toInt() + 1;
    record[kPrev] = QString::fromLatin1(previous.isEmpty() ? firstPrev() : lineHash(previous));
    return QJsonDocument(record).toJson(QJsonDocument::Compact);
}

bool append(const QString &path, QList<QJsonObject> &records, const QString &operatorName,
            QString *error)
{
    const QString user = Account::userName();
    for (QJsonObject &record : records) {
        record[QStringLiteral("time")]
            = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
        record[QStringLiteral("host")] = Account::hostName();
        record[QStringLiteral("user")] = user;
        record[QStringLiteral("operator")] = operatorName.isEmpty() ? user : operatorName;
    }

    QLockFile lockFile(path + QStringLiteral(".lock"));
    if (!lock(lockFile, path, error))
        return false;
    QFile file(path);
    if (!openForAppending(file, error))
        return false;
    bool endsWithNewline = true;
    std::optional<QByteArray> previous
        = file.isSequential() ? QByteArray() : lastLine(file, &endsWithNewline);
    if (!previous) {
        *error = QStringLiteral("cannot read the end of the audit record %1: %2")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    // A line cut short (a computer that went down while writing it) stays as it is, to be
    // reported by a check; the new line starts on a line of its own.
    QByteArray start = endsWithNewline ? QByteArray() : QByteArray("\n");
    for (const QJsonObject &record : qAsConst(records)) {
        previous = chainedLine(record, *previous);
        const QByteArray line = start + *previous + '\n';
        start.clear();
        if (file.write(line) != line.size()) {
            *error = QStringLiteral("cannot write the audit record to %1: %2")
                         .arg(QDir::toNativeSeparators(path), file.errorString());
            return false;
        }
    }
    return true;
}

Verification verify(const QByteArray &data, QList<QJsonObject> *lines)
{
    const QVector<LineFacts> facts = lineFacts(data, lines != nullptr);
    Verification check;
    check.lines = facts.size();
    check.lastHash = facts.isEmpty() ? firstPrev() : facts.last().hash;
    if (lines)
        for (const LineFacts &line : facts)
            if (line.valid)
                lines->append(line.object);

    bool chained = false;
    for (int i = 0; i < facts.size(); ++i) {
        check.line = i + 1;
        check.result = Verification::Broken;
        if (!facts[i].valid) {
            check.problem = i + 1 == facts.size() && !data.endsWith('\n')
                ? QStringLiteral("is cut short (not valid JSON)")
                : QStringLiteral("is not valid JSON");
            return check;
        }
        if (facts[i].prev.isEmpty() && chained) {
            check.problem = QStringLiteral("has no \"prev\": it was inserted, or changed");
            return check;
        }
        if (facts[i].prev != (i == 0 ? firstPrev() : facts[i - 1].hash)
            && !facts[i].prev.isEmpty()) {
            check.problem = diagnose(i, facts, &check.line);
            return check;
        }
        chained = chained || !facts[i].prev.isEmpty();
        check.unchained += chained ? 0 : 1;
    }
    check.line = 0;
    check.result = chained || facts.isEmpty() ? Verification::Whole : Verification::Unchained;
    return check;
}

std::optional<Verification> verifyFile(const QString &path, QString *error,
                                       QList<QJsonObject> *lines)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
        return std::nullopt;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("cannot read %1: %2")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
        return std::nullopt;
    }
    return verify(data, lines);
}

} // namespace Audit
