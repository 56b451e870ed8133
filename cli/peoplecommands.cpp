#include "peoplecommands.h"

#include "commands.h"

#include "record/account.h"
#include "record/audit.h"
#include "record/auditcheck.h"
#include "record/files.h"
#include "record/trust.h"
#include "station/approval.h"
#include "station/signedrun.h"
#include "station/terminaltext.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>

namespace {

// A passphrase too short to stand a guess for long: the file has no lockout.
constexpr int kShortestPassphrase = 8;
constexpr int kLongestReason = 200;

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

int fail(const QString &error)
{
    standardError() << "tempyra-cli: " << error << Qt::endl;
    return kExitUsage;
}

QString keyPathOr(const QString &keyPath)
{
    return keyPath.isEmpty() ? PersonKey::defaultPath() : keyPath;
}

std::optional<SecretBytes> passphrase(const QString &file, bool confirm, QString *error)
{
    return file.isEmpty() ? Passphrase::ask(QStringLiteral("passphrase"), confirm, error)
                          : Passphrase::fromFile(file, error);
}

// "the key's name (fingerprint)"
QString who(const PersonKey &key)
{
    return QStringLiteral("%1 (%2)").arg(key.name(), QLatin1String(key.fingerprint()));
}

std::optional<qint64> timeOption(const QString &name, const QString &text, QString *error)
{
    const std::optional<qint64> time = Trust::parseTime(text);
    if (!time)
        *error = QStringLiteral("--%1: %2 is no date (2026-12-07) or time with its zone "
                                "(2026-12-07T08:00:00Z)")
                     .arg(name, text);
    return time;
}

// The team file at path; a new one when there is none.
std::optional<Trust::Team> readTeam(const QString &path, QString *error)
{
    if (!QFileInfo::exists(path))
        return Trust::Team {{}, true};
    const std::optional<QByteArray> text
        = Files::readAtMost(path, 1 << 20, QStringLiteral("the most a team file may be"), error);
    std::optional<Trust::Team> team = text ? Trust::parseTeam(*text, error) : std::nullopt;
    if (!team)
        *error = QStringLiteral("%1: %2").arg(native(path), *error);
    return team;
}

bool writeTeam(const QString &path, const Trust::Team &team, QString *error)
{
    QSaveFile file(path);
    const QByteArray text = team.text();
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    *error = QStringLiteral("cannot write %1: %2").arg(native(path), file.errorString());
    return false;
}

} // namespace

std::shared_ptr<const PersonKey> openPersonKey(const QString &keyPath,
                                               const QString &passphraseFile, QString *error)
{
    const QString path = keyPathOr(keyPath);
    if (!QFileInfo::exists(path)) {
        *error = QStringLiteral("no person key at %1 (\"tempyra-cli person new NAME\" makes one)")
                     .arg(native(path));
        return nullptr;
    }
    const std::optional<SecretBytes> secret = passphrase(passphraseFile, false, error);
    if (!secret)
        return nullptr;
    std::optional<PersonKey> key = PersonKey::unlock(path, *secret, error);
    return key ? std::make_shared<const PersonKey>(std::move(*key)) : nullptr;
}

int newPerson(const QString &name, const QString &keyPath, const QString &passphraseFile)
{
    const QString trimmed = name.trimmed();
    const QString problem = personNameProblem(trimmed);
    if (!problem.isEmpty())
        return fail(QStringLiteral("person new: ") + problem);
    const QString path = keyPathOr(keyPath);
    if (QFileInfo::exists(path))
        return fail(QStringLiteral("the person key %1 exists already; a new one would have to be "
                                   "trusted anew. Remove it first if that is what you mean.")
                        .arg(native(path)));
    QString error;
    const std::optional<SecretBytes> secret = passphrase(passphraseFile, true, &error);
    if (!secret)
        return fail(error);
    if (secret->size() < kShortestPassphrase)
        return fail(QStringLiteral("a passphrase of at least %1 characters: the key file has no "
                                   "lockout, and a short one is guessed offline")
                        .arg(kShortestPassphrase));
    if (keyPath.isEmpty())
        QDir().mkpath(QFileInfo(path).absolutePath());
    const QString comment
        = QStringLiteral("made by %1 on %2 on %3")
              .arg(Account::userName(), Account::hostName(),
                   QLocale::c().toString(QDate::currentDate(), QStringLiteral("yyyy-MM-dd")));
    const std::optional<PersonKey> key = PersonKey::create(path, trimmed, *secret, comment, &error);
    if (!key)
        return fail(error);
    standardOutput() << key->publicKeyFile() << Qt::flush;
    standardError() << "tempyra-cli: made the key " << key->fingerprint() << " of "
                    << terminalText(trimmed) << " in " << native(path)
                    << ", sealed with the passphrase and readable by this account only. "
                    << (Files::standardOutputIsTerminal()
                            ? "Give the public key above"
                            : "Its public key went to standard output: give it")
                    << " to whoever keeps the team file (\"tempyra-cli trust add TEAM KEY.pub "
                       "--role ...\")."
                    << Qt::endl;
    return kExitDone;
}

int showPerson(const QString &keyPath)
{
    QString error;
    const std::optional<QByteArray> file = PersonKey::publicFile(keyPathOr(keyPath), &error);
    if (!file)
        return fail(error);
    standardOutput() << *file << Qt::flush;
    return kExitDone;
}

int trustAdd(const QString &team, const QString &keyFile, const QString &role, const QString &from,
             const QString &until)
{
    QString error;
    const std::optional<Trust::Role> parsed = Trust::parseRole(role);
    if (!parsed)
        return fail(QStringLiteral("--role: station, operator, reviewer or approver"));
    Trust::Grant grant {*parsed, Trust::kAlways, Trust::kNever};
    if (!from.isEmpty()) {
        const std::optional<qint64> time = timeOption(QStringLiteral("from"), from, &error);
        if (!time)
            return fail(error);
        grant.from = *time;
    }
    if (!until.isEmpty()) {
        const std::optional<qint64> time = timeOption(QStringLiteral("until"), until, &error);
        if (!time)
            return fail(error);
        grant.until = *time;
    }
    const std::optional<QByteArray> text
        = Files::readAtMost(keyFile, 1 << 20, QStringLiteral("the most a key file may be"), &error);
    const std::optional<QList<Trust::Key>> keys
        = text ? Trust::parseKeyFile(*text, &error) : std::nullopt;
    if (!keys)
        return fail(QStringLiteral("%1: %2").arg(native(keyFile), error));
    Trust::Key key = keys->first();
    const bool personRole = grant.role != Trust::Role::Station;
    if (personRole != key.person())
        return fail(
            QStringLiteral("%1 is %2's key, which signs as %3 only")
                .arg(native(keyFile), key.person() ? key.name : QStringLiteral("a station"),
                     QLatin1String(key.person() ? "operator, reviewer or approver" : "station")));
    std::optional<Trust::Team> file = readTeam(team, &error);
    if (!file)
        return fail(error);
    auto it = std::find_if(file->keys.begin(), file->keys.end(), [&key](const Trust::Key &held) {
        return held.fingerprint == key.fingerprint;
    });
    if (it == file->keys.end()) {
        key.everyRole = false;
        key.grants.clear();
        if (!key.person())
            key.name = QStringLiteral("station, %1").arg(key.name);
        file->keys.append(key);
        it = file->keys.end() - 1;
    }
    it->grants.append(grant);
    if (!writeTeam(team, *file, &error))
        return fail(error);
    standardError() << "tempyra-cli: " << native(team) << ": " << terminalText(it->name) << " ("
                    << key.fingerprint << ") trusted as " << role
                    << (grant.from == Trust::kAlways
                            ? QString()
                            : QStringLiteral(" from ") + Trust::timeText(grant.from))
                    << (grant.until == Trust::kNever
                            ? QString()
                            : QStringLiteral(" until ") + Trust::timeText(grant.until))
                    << Qt::endl;
    return kExitDone;
}

int trustRevoke(const QString &team, const QString &fingerprint, const QString &since)
{
    QString error;
    qint64 time = QDateTime::currentMSecsSinceEpoch();
    if (!since.isEmpty()) {
        const std::optional<qint64> given = timeOption(QStringLiteral("since"), since, &error);
        if (!given)
            return fail(error);
        time = *given;
    }
    if (!QFileInfo::exists(team))
        return fail(QStringLiteral("there is no team file %1").arg(native(team)));
    std::optional<Trust::Team> file = readTeam(team, &error);
    if (!file)
        return fail(error);
    const auto it
        = std::find_if(file->keys.begin(), file->keys.end(), [&fingerprint](const Trust::Key &key) {
              return key.fingerprint == fingerprint.toLatin1().toLower();
          });
    if (it == file->keys.end())
        return fail(QStringLiteral("%1 holds no key %2").arg(native(team), fingerprint));
    it->revoked = time;
    if (!writeTeam(team, *file, &error))
        return fail(error);
    standardError() << "tempyra-cli: " << native(team) << ": " << terminalText(it->name) << " ("
                    << it->fingerprint << ") revoked from " << Trust::timeText(time)
                    << "; lines it signed before then still hold" << Qt::endl;
    return kExitDone;
}

int trustList(const QString &team)
{
    QString error;
    if (!QFileInfo::exists(team))
        return fail(QStringLiteral("there is no team file %1").arg(native(team)));
    const std::optional<Trust::Team> file = readTeam(team, &error);
    if (!file)
        return fail(error);
    for (const QString &line : file->table().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        standardOutput() << terminalText(line) << Qt::endl;
    return kExitDone;
}

int signOff(const QString &record, const QString &keyPath, const QString &passphraseFile,
            const QString &meaning, const QString &reason, const QString &head)
{
    if (meaning != QLatin1String("reviewed") && meaning != QLatin1String("approved"))
        return fail(QStringLiteral("--meaning: reviewed or approved"));
    const QString why = reason.trimmed();
    if (why.size() > kLongestReason || why.contains(QLatin1Char('\n'))
        || std::any_of(why.cbegin(), why.cend(),
                       [](QChar c) { return c.category() == QChar::Other_Control; }))
        return fail(
            QStringLiteral("--reason: one line of at most %1 characters").arg(kLongestReason));
    QString error;
    if (!QFileInfo(record).isFile())
        return fail(QStringLiteral("there is no audit record %1").arg(native(record)));
    // An earlier head: the record must hold it, so that the sign-off covers what it says.
    QJsonValue covers = QJsonValue::Null;
    if (!head.isEmpty()) {
        const std::optional<Audit::Head> noted = Audit::Head::parse(head);
        if (!noted)
            return fail(QStringLiteral("--head: %1 is no head (SEQ:HASH)").arg(head));
        const std::optional<Audit::Verification> check
            = Audit::verifyFile(record, {nullptr, {*noted}}, &error);
        if (!check)
            return fail(error);
        if (!check->heads.first().held)
            return fail(QStringLiteral("%1: head %2: %3")
                            .arg(native(record), head, check->heads.first().problem));
        covers = noted->text();
    }
    const std::shared_ptr<const PersonKey> key = openPersonKey(keyPath, passphraseFile, &error);
    if (!key)
        return fail(error);
    QJsonObject line {
        {QStringLiteral("signOff"),
         QJsonObject {{QStringLiteral("meaning"), meaning},
                      {QStringLiteral("reason"), why},
                      {QStringLiteral("covers"), covers},
                      {QStringLiteral("zone"),
                       Audit::zoneText(QDateTime::currentDateTime().offsetFromUtc())}}},
        {QStringLiteral("person"), QLatin1String(key->fingerprint())}};
    Audit::stamp(line, key->name());
    Audit::Head appended;
    if (Audit::append(record, {{line, key.get()}}, &error, &appended) != Audit::Appended::Yes)
        return fail(error);
    standardError() << "tempyra-cli: " << native(record) << ": " << meaning << " by "
                    << terminalText(who(*key)) << ", covering "
                    << (head.isEmpty() ? QStringLiteral("every line before it")
                                       : QStringLiteral("up to head ") + head)
                    << Qt::endl
                    << "tempyra-cli: head " << appended.text() << " of " << native(record)
                    << Qt::endl;
    return kExitDone;
}

int approveProfile(const QString &profile, const QString &keyPath, const QString &passphraseFile)
{
    QString error;
    if (!QFileInfo(profile).isFile())
        return fail(QStringLiteral("there is no profile %1").arg(native(profile)));
    const std::shared_ptr<const PersonKey> key = openPersonKey(keyPath, passphraseFile, &error);
    if (!key)
        return fail(error);
    if (!Approval::write(profile, *key, &error))
        return fail(error);
    standardError() << "tempyra-cli: " << native(profile) << " approved by "
                    << terminalText(who(*key)) << " in " << native(Approval::pathFor(profile))
                    << "; a change to the profile undoes the approval" << Qt::endl;
    return kExitDone;
}
