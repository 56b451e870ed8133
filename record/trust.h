#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <limits>
#include <optional>

// Whom a reviewer trusts to sign audit lines, and for what.
//
// A key file (what "key show" and "person show" print) trusts its keys for every role at every
// time. A team file, which quality assurance keeps with "trust add", "trust revoke" and "trust
// list", trusts each key for the roles it names, each from and until a time, and no more after
// its revocation:
//
//   # tempyra-cli team ...
//   key 3f2a9c01d4e5b6a7 Ana Lima
//     ed25519 <the 32-byte public key in base64>
//     name-signature <the key's own signature of its name, in base64>
//     role operator from 2026-12-01 until 2027-12-01
//     role reviewer
//     revoked 2026-12-20T00:00:00Z
//
// Times are UTC, a date alone the start of that day; a line's time is the "time" it carries, the
// clock of the computer that wrote it.
namespace Trust {

/// What a key signs: a station its attempt lines (and repairs and late lines), an operator the
/// lines that sign a run in and out, a reviewer or approver a sign-off, an approver a profile.
enum class Role { Station, Operator, Reviewer, Approver };
QLatin1String roleName(Role role);
std::optional<Role> parseRole(const QString &name);

constexpr qint64 kNever = std::numeric_limits<qint64>::max();
constexpr qint64 kAlways = std::numeric_limits<qint64>::min();

struct Grant
{
    Role role = Role::Station;
    qint64 from = kAlways; // ms since 1970 UTC, included
    qint64 until = kNever; // excluded
};

struct Key
{
    QByteArray fingerprint;
    QByteArray publicKey;
    QString name; // a person's printed name, signed by the key; a station's key file comment
    QByteArray nameSignature; // empty for a station
    bool everyRole = true; // from a key file: every role, at every time
    QList<Grant> grants;
    qint64 revoked = kNever;

    bool person() const { return !nameSignature.isEmpty(); }
    /// Why the key may not sign as any of roles at time (ms UTC): empty when it may.
    QString refusal(const QList<Role> &roles, qint64 time) const;
};

/// The keys trusted, by fingerprint.
using Keys = QHash<QByteArray, Key>;

/// The message a person's key signs to vouch for the name printed with it.
QByteArray nameMessage(const QByteArray &publicKey, const QString &name);

/// "2026-12-07" (the start of that day, UTC) or an ISO time with its zone, as ms since 1970.
std::optional<qint64> parseTime(const QString &text);
/// "2026-12-07" for the start of a day, else "2026-12-07T08:30:00Z" (with its milliseconds
/// where it has any).
QString timeText(qint64 msecs);

/// Reads key files, folders of *.pub files and team files; nothing, with error, when a file
/// cannot be read or holds no key, a name is not signed by its key, or none is given.
std::optional<Keys> read(const QStringList &paths, QString *error);

/// The keys of a key file's text (a person's name checked against its signature).
std::optional<QList<Key>> parseKeyFile(const QByteArray &text, QString *error);

/// A team file: its keys in the file's order.
struct Team
{
    QList<Key> keys;
    bool isTeam = false; // the text was a team file
    /// The file's text, as trust add and revoke write it.
    QByteArray text() const;
    /// A table of its keys and grants, for people.
    QString table() const;
};
/// Nothing, with error, when text is not a team file or a key in it is not whole.
std::optional<Team> parseTeam(const QByteArray &text, QString *error);

} // namespace Trust
