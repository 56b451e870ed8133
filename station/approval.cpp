#include "station/approval.h"

#include "record/audit.h"
#include "record/files.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace {

constexpr qint64 kLargestProfile = 1 << 20;

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QByteArray message(const QByteArray &sha256, const QByteArray &approver, const QByteArray &time)
{
    return "tempyra-cli profile approval\n" + sha256 + '\n' + approver + '\n' + time;
}

std::optional<QByteArray> profileHash(const QString &profile, QString *error)
{
    const std::optional<QByteArray> bytes = Files::readAtMost(
        profile, kLargestProfile, QStringLiteral("the most a profile may be"), error);
    if (!bytes) {
        *error = QStringLiteral("%1: %2").arg(native(profile), *error);
        return std::nullopt;
    }
    return Audit::lineHash(*bytes);
}

} // namespace

namespace Approval {

QString pathFor(const QString &profile)
{
    return profile + QStringLiteral(".approval");
}

bool write(const QString &profile, const PersonKey &key, QString *error)
{
    const std::optional<QByteArray> sha256 = profileHash(profile, error);
    if (!sha256)
        return false;
    const QByteArray time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1();
    const QByteArray text = "# tempyra-cli profile approval of "
        + QFileInfo(profile).fileName().toUtf8() + " by " + key.name().toUtf8() + '\n'
        + "profile-sha256 " + *sha256 + '\n' + "approver " + key.fingerprint() + '\n' + "name "
        + key.name().toUtf8() + '\n' + "time " + time + '\n' + "signature "
        + key.sign(message(*sha256, key.fingerprint(), time)).toBase64() + '\n';
    QSaveFile file(pathFor(profile));
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    *error
        = QStringLiteral("cannot write %1: %2").arg(native(pathFor(profile)), file.errorString());
    return false;
}

std::optional<QJsonObject> check(const QString &profile, const Trust::Keys &trusted,
                                 const QByteArray &operatorKey, const QString &operatorName,
                                 QString *error)
{
    const QString path = pathFor(profile);
    const QString name = native(profile);
    if (!QFileInfo::exists(path)) {
        *error = QStringLiteral("the profile %1 is not approved: there is no %2 (\"tempyra-cli "
                                "profile approve\" makes one)")
                     .arg(name, native(path));
        return std::nullopt;
    }
    QString problem;
    const std::optional<QByteArray> text = Files::readAtMost(
        path, kLargestProfile, QStringLiteral("the most an approval may be"), &problem);
    QHash<QByteArray, QByteArray> fields;
    for (const QByteArray &line : text.value_or(QByteArray()).split('\n'))
        if (!line.startsWith('#') && line.contains(' '))
            fields.insert(line.left(line.indexOf(' ')), line.mid(line.indexOf(' ') + 1).trimmed());
    const QByteArray approver = fields.value("approver");
    const auto key = trusted.constFind(approver);
    const std::optional<QByteArray> sha256 = profileHash(profile, error);
    if (!sha256)
        return std::nullopt;
    if (!text)
        *error = QStringLiteral("cannot read %1: %2").arg(native(path), problem);
    else if (fields.value("profile-sha256") != *sha256)
        *error = QStringLiteral("the profile %1 was changed after it was approved: its SHA-256 is "
                                "no longer the one %2 signed")
                     .arg(name, native(path));
    else if (key == trusted.cend())
        *error = QStringLiteral("the profile %1 is approved by %2, a key not trusted here")
                     .arg(name, QLatin1String(approver));
    else if (!Signature::verify(message(*sha256, approver, fields.value("time")),
                                QByteArray::fromBase64(fields.value("signature")), key->publicKey))
        *error = QStringLiteral("the approval %1 does not match its signature: it was changed "
                                "after it was signed")
                     .arg(native(path));
    else if (!key->person()
             || !(problem
                  = key->refusal({Trust::Role::Approver}, QDateTime::currentMSecsSinceEpoch()))
                     .isEmpty())
        *error = QStringLiteral("the profile %1 is approved by %2, %3")
                     .arg(name, key->name.isEmpty() ? QLatin1String(approver) : key->name,
                          key->person() ? problem : QStringLiteral("a key that is no person's"));
    else if (approver == operatorKey
             || (!operatorName.isEmpty() && operatorName == key->name && operatorKey.isEmpty()))
        *error = QStringLiteral("the profile %1 is approved by %2, who is the operator running it: "
                                "a second person approves what an operator writes")
                     .arg(name, key->name);
    else
        return QJsonObject {{QStringLiteral("sha256"), QLatin1String(*sha256)},
                            {QStringLiteral("approver"), QLatin1String(approver)}};
    return std::nullopt;
}

} // namespace Approval
