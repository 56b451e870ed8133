#include "audit.h"

#include "account.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>

namespace {

bool openForAppending(QFile &file, QString *error)
{
    QDir().mkpath(QFileInfo(file.fileName()).absolutePath());
    // Unbuffered: every write() of QFile is one write to the file.
    if (file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return true;
    *error = QStringLiteral("cannot open the audit file %1: %2")
                 .arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
    return false;
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

bool usable(const QString &path, QString *error)
{
    QFile file(path);
    return openForAppending(file, error);
}

bool append(const QString &path, QJsonObject &record, QString *error)
{
    record[QStringLiteral("time")] = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    record[QStringLiteral("host")] = Account::hostName();
    record[QStringLiteral("user")] = Account::userName();
    const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';

    QFile file(path);
    if (!openForAppending(file, error))
        return false;
    if (file.write(line) != line.size()) {
        *error = QStringLiteral("cannot write the audit record to %1: %2")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

} // namespace Audit
