#include "record/trust.h"

#include "record/files.h"
#include "record/stationkey.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

namespace {

// A key file or a team file of a few hundred keys fits well within this.
constexpr qint64 kLargestKeyFile = 1 << 20;
constexpr int kPublicKeyBytes = 32;
constexpr qint64 kMsecsPerDay = 86400000;

const char *const kRoles[] = {"station", "operator", "reviewer", "approver"};

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QString orDash(qint64 time, qint64 none)
{
    return time == none ? QStringLiteral("-") : Trust::timeText(time);
}

// The name's signature by the key; an error when it does not hold.
bool nameHolds(const Trust::Key &key, QString *error)
{
    if (key.nameSignature.isEmpty()
        || Signature::verify(Trust::nameMessage(key.publicKey, key.name), key.nameSignature,
                             key.publicKey))
        return true;
    *error = QStringLiteral("the name \"%1\" given with the key %2 is not signed by that key")
                 .arg(key.name, QLatin1String(key.fingerprint));
    return false;
}

std::optional<QByteArray> publicKey(const QByteArray &base64)
{
    const QByteArray key = QByteArray::fromBase64(base64.trimmed());
    if (key.size() != kPublicKeyBytes)
        return std::nullopt;
    return key;
}

void merge(Trust::Keys &keys, const Trust::Key &key)
{
    const auto it = keys.find(key.fingerprint);
    if (it == keys.end()) {
        keys.insert(key.fingerprint, key);
        return;
    }
    // Given twice (a key file and a team file, two team files): trusted for what either says.
    it->everyRole = it->everyRole || key.everyRole;
    it->grants += key.grants;
    it->revoked = qMin(it->revoked, key.revoked);
    if (it->name.isEmpty())
        it->name = key.name;
}

} // namespace

namespace Trust {

QLatin1String roleName(Role role)
{
    return QLatin1String(kRoles[int(role)]);
}

std::optional<Role> parseRole(const QString &name)
{
    for (int i = 0; i < 4; ++i)
        if (name == QLatin1String(kRoles[i]))
            return Role(i);
    return std::nullopt;
}

QString Key::refusal(const QList<Role> &roles, qint64 time) const
{
    QStringList names;
    for (Role role : roles)
        names.append(roleName(role));
    const QString as = names.join(QLatin1String(" or "));
    if (time >= revoked)
        return QStringLiteral("whose key was revoked from %1").arg(timeText(revoked));
    if (everyRole)
        return {};
    QStringList spans;
    for (const Grant &grant : grants) {
        if (!roles.contains(grant.role))
            continue;
        if (time >= grant.from && time < grant.until)
            return {};
        spans.append(QStringLiteral("from %1 until %2")
                         .arg(orDash(grant.from, kAlways), orDash(grant.until, kNever)));
    }
    if (spans.isEmpty())
        return QStringLiteral("whose key is not trusted as %1").arg(as);
    return QStringLiteral("whose key signs as %1 only %2").arg(as, spans.join(QLatin1String(", ")));
}

QByteArray nameMessage(const QByteArray &publicKey, const QString &name)
{
    return "tempyra-cli person name\n" + publicKey + name.toUtf8();
}

std::optional<qint64> parseTime(const QString &text)
{
    const QString trimmed = text.trimmed();
    const QDate date = QDate::fromString(trimmed, Qt::ISODate);
    if (date.isValid() && trimmed.size() == 10)
        return QDateTime(date, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    // A time names its zone: a team file is read alike wherever it is.
    static const QRegularExpression zoned(QStringLiteral("(Z|[+-][0-9]{2}:?[0-9]{2})$"));
    const QDateTime time = QDateTime::fromString(trimmed, Qt::ISODate);
    if (!time.isValid() || !zoned.match(trimmed).hasMatch())
        return std::nullopt;
    return time.toMSecsSinceEpoch();
}

QString timeText(qint64 msecs)
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
    return QLocale::c().toString(time,
                                 msecs % kMsecsPerDay == 0 ? QStringLiteral("yyyy-MM-dd")
                                     : msecs % 1000 == 0
                                     ? QStringLiteral("yyyy-MM-dd'T'hh:mm:ss'Z'")
                                     : QStringLiteral("yyyy-MM-dd'T'hh:mm:ss.zzz'Z'"));
}

std::optional<QList<Key>> parseKeyFile(const QByteArray &text, QString *error)
{
    QList<Key> keys;
    QString comment;
    for (const QByteArray &raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('#')) {
            // "# tempyra-cli station key 3f2a..., made by ana on packing-1 on 2026-12-07"
            comment = QString::fromUtf8(line).section(QStringLiteral(", "), 1);
        } else if (line.startsWith("ed25519 ")) {
            const std::optional<QByteArray> key = publicKey(line.mid(8));
            if (!key) {
                *error = QStringLiteral("a line \"ed25519\" that holds no public key");
                return std::nullopt;
            }
            keys.append({Signature::fingerprint(*key), *key, comment, {}, true, {}, kNever});
            comment.clear();
        } else if (!keys.isEmpty() && line.startsWith("name ")) {
            keys.last().name = QString::fromUtf8(line.mid(5));
        } else if (!keys.isEmpty() && line.startsWith("name-signature ")) {
            keys.last().nameSignature = QByteArray::fromBase64(line.mid(15));
        }
    }
    for (const Key &key : qAsConst(keys))
        if (!nameHolds(key, error))
            return std::nullopt;
    if (keys.isEmpty()) {
        *error = QStringLiteral("no public key in it (a line \"ed25519 KEY\", as \"tempyra-cli key "
                                "show\" and \"person show\" print)");
        return std::nullopt;
    }
    return keys;
}

std::optional<Team> parseTeam(const QByteArray &text, QString *error)
{
    Team team;
    team.isTeam = true;
    int number = 0;
    const auto bad = [&number, error](const QString &what) {
        *error = QStringLiteral("line %1: %2").arg(number).arg(what);
        return std::nullopt;
    };
    for (const QByteArray &raw : text.split('\n')) {
        ++number;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QString word = line.section(QLatin1Char(' '), 0, 0);
        const QString rest = line.section(QLatin1Char(' '), 1);
        if (word == QLatin1String("key")) {
            Key key;
            key.fingerprint = rest.section(QLatin1Char(' '), 0, 0).toLatin1();
            key.name = rest.section(QLatin1Char(' '), 1);
            key.everyRole = false;
            team.keys.append(key);
            continue;
        }
        if (team.keys.isEmpty())
            return bad(QStringLiteral("\"%1\" before the first \"key\"").arg(word));
        Key &key = team.keys.last();
        if (word == QLatin1String("ed25519")) {
            const std::optional<QByteArray> bytes = publicKey(rest.toLatin1());
            if (!bytes || Signature::fingerprint(*bytes) != key.fingerprint)
                return bad(
                    QStringLiteral("not the public key of %1").arg(QLatin1String(key.fingerprint)));
            key.publicKey = *bytes;
        } else if (word == QLatin1String("name-signature")) {
            key.nameSignature = QByteArray::fromBase64(rest.toLatin1());
        } else if (word == QLatin1String("role")) {
            const QStringList parts = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const std::optional<Role> role = parseRole(parts.value(0));
            if (!role || parts.size() % 2 != 1)
                return bad(QStringLiteral("a role is station, operator, reviewer or approver, "
                                          "with \"from TIME\" and \"until TIME\""));
            Grant grant {*role, kAlways, kNever};
            for (int i = 1; i + 1 < parts.size(); i += 2) {
                const std::optional<qint64> time = parseTime(parts[i + 1]);
                if (!time
                    || (parts[i] != QLatin1String("from") && parts[i] != QLatin1String("until")))
                    return bad(QStringLiteral("\"%1 %2\" is no time").arg(parts[i], parts[i + 1]));
                (parts[i] == QLatin1String("from") ? grant.from : grant.until) = *time;
            }
            key.grants.append(grant);
        } else if (word == QLatin1String("revoked")) {
            const std::optional<qint64> time = parseTime(rest);
            if (!time)
                return bad(QStringLiteral("\"%1\" is no time").arg(rest));
            key.revoked = *time;
        } else {
            return bad(QStringLiteral("\"%1\" is no part of a team file").arg(word));
        }
    }
    for (const Key &key : qAsConst(team.keys)) {
        if (key.publicKey.isEmpty()) {
            *error = QStringLiteral("the key %1 has no \"ed25519\" line")
                         .arg(QLatin1String(key.fingerprint));
            return std::nullopt;
        }
        if (!nameHolds(key, error))
            return std::nullopt;
    }
    return team;
}

QByteArray Team::text() const
{
    QByteArray text = "# tempyra-cli team: the keys trusted to sign audit records, each with its "
                      "printed name,\n# the roles it signs as and when (UTC), kept with "
                      "\"tempyra-cli trust add\", \"trust revoke\"\n# and \"trust list\".\n";
    for (const Key &key : keys) {
        text += "\nkey " + key.fingerprint + ' ' + key.name.toUtf8() + '\n';
        text += "  ed25519 " + key.publicKey.toBase64() + '\n';
        if (!key.nameSignature.isEmpty())
            text += "  name-signature " + key.nameSignature.toBase64() + '\n';
        for (const Grant &grant : key.grants) {
            text += "  role " + QByteArray(kRoles[int(grant.role)]);
            if (grant.from != kAlways)
                text += " from " + timeText(grant.from).toLatin1();
            if (grant.until != kNever)
                text += " until " + timeText(grant.until).toLatin1();
            text += '\n';
        }
        if (key.revoked != kNever)
            text += "  revoked " + timeText(key.revoked).toLatin1() + '\n';
    }
    return text;
}

QString Team::table() const
{
    QList<QStringList> rows {{QStringLiteral("FINGERPRINT"), QStringLiteral("ROLE"),
                              QStringLiteral("FROM"), QStringLiteral("UNTIL"),
                              QStringLiteral("REVOKED"), QStringLiteral("NAME")}};
    for (const Key &key : keys) {
        const QString revoked = orDash(key.revoked, kNever);
        if (key.grants.isEmpty())
            rows.append({QLatin1String(key.fingerprint), QStringLiteral("-"), QStringLiteral("-"),
                         QStringLiteral("-"), revoked, key.name});
        for (const Grant &grant : key.grants)
            rows.append({QLatin1String(key.fingerprint), roleName(grant.role),
                         orDash(grant.from, kAlways), orDash(grant.until, kNever), revoked,
                         key.name});
    }
    QVector<int> widths(rows.first().size());
    for (const QStringList &row : qAsConst(rows))
        for (int i = 0; i < row.size(); ++i)
            widths[i] = qMax(widths[i], row[i].size() + 2);
    QString table;
    for (const QStringList &row : qAsConst(rows)) {
        QString line;
        for (int i = 0; i < row.size(); ++i)
            line += row[i].leftJustified(widths[i]);
        table += line.trimmed() + QLatin1Char('\n');
    }
    return table;
}

std::optional<Keys> read(const QStringList &paths, QString *error)
{
    QStringList files;
    for (const QString &path : paths) {
        if (!QFileInfo(path).isDir()) {
            files.append(path);
            continue;
        }
        const QStringList found = QDir(path).entryList({QStringLiteral("*.pub")}, QDir::Files);
        if (found.isEmpty()) {
            *error = QStringLiteral("--trust %1: the folder holds no *.pub key file")
                         .arg(native(path));
            return std::nullopt;
        }
        for (const QString &name : found)
            files.append(QDir(path).filePath(name));
    }
    Keys keys;
    for (const QString &path : qAsConst(files)) {
        std::optional<QByteArray> text = Files::readAtMost(
            path, kLargestKeyFile, QStringLiteral("the most a key file may be"), error);
        // A team file's blocks start with "key"; a key file's keys with "ed25519".
        static const QRegularExpression teamKey(QStringLiteral("(^|\\n)key "));
        std::optional<QList<Key>> found;
        if (text && teamKey.match(QString::fromUtf8(*text)).hasMatch()) {
            const std::optional<Team> team = parseTeam(*text, error);
            if (team)
                found = team->keys;
        } else if (text) {
            found = parseKeyFile(*text, error);
        }
        if (!found) {
            *error = QStringLiteral("--trust %1: %2").arg(native(path), *error);
            return std::nullopt;
        }
        for (const Key &key : qAsConst(*found))
            merge(keys, key);
    }
    if (keys.isEmpty()) {
        *error = QStringLiteral("--trust: no key given");
        return std::nullopt;
    }
    return keys;
}

} // namespace Trust
