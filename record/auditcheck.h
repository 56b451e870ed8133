#pragma once

#include "record/audit.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// Checking an audit record: every link of its chain, every "seq", with trusted keys every
// signature, and heads noted earlier. Each line at fault is named with what happened to it, as
// far as the record tells: a line is "changed" only where its own signature (or its place in
// the chain) shows it, "inserted" or "removed" only where the chain says so.
namespace Audit {

struct Verification
{
    enum Result { Whole, Broken, Unchained };
    /// Broken when a line cannot be read or the chain or a "seq" does not hold; Unchained when
    /// no line is chained at all.
    Result result = Whole;
    int lines = 0; // lines of the record, blank ones not counted
    /// Leading lines without "prev", written before the record was chained; only the last of
    /// them is covered by the chain.
    int unchained = 0;
    /// The last line's head (seq 0 when it is not chained).
    Head head;

    /// A line that fails a check.
    struct Fault
    {
        enum Kind {
            Unreadable, // not JSON: cut short or garbled, not carried by a repair line
            Chain, // does not follow the line before it as written
            Seq, // follows it, but its "seq" is not the one due
            Signature, // does not match its signature
            Untrusted, // signed by a key not trusted
            Unsigned, // not signed, where signatures were checked
            Role, // signed by a trusted key outside its role, its validity or after its revocation
            People, // a person's line that does not hold: signed in nowhere, covering another
                    // record
        };
        int line = 0; // from 1
        Kind kind = Chain;
        QString problem; // "was changed after it was signed", as "line N ..." goes on
    };
    /// Every line at fault, in the record's order.
    QList<Fault> faults;

    /// Lines the record holds that are no fault: blank lines, lines with Windows line ends.
    QList<int> blank;
    int crlf = 0;

    /// A line that cannot be read, carried by a repair line.
    struct Repair
    {
        int cutLine = 0;
        int repairLine = 0;
        int bytes = 0;
        bool atEnd = false; // the record's last line then, cut short by an interrupted write
        QString device; // the device its bytes name, where they can be read
        QJsonObject by; // the repair line: its time, host, user and operator
    };
    QList<Repair> repairs;

    /// Lines owed to the record when they were written and appended later, from a file.
    struct Late
    {
        int first = 0;
        int last = 0;
        QJsonObject by; // "late": its time, host, user, operator and the file
    };
    QList<Late> late;

    /// Each signer's lines, in the order the signers first sign (empty signer: unsigned).
    struct Signer
    {
        QByteArray signer;
        QList<QPair<int, int>> runs; // the lines, as runs of lines next to each other
        int count = 0;
        bool trusted = false; // checked, and the key is trusted
    };
    QList<Signer> signers;
    /// True when the signatures were checked against trusted keys.
    bool trustChecked = false;

    /// A run of a station with an operator signed in: from the line that signs them in to the
    /// one that signs them out, none when the run ended without it.
    struct Run
    {
        QByteArray person; // the operator's fingerprint
        QString name; // the printed name their key vouches for, or the name typed
        bool proven = false; // the name is the key's own, checked with a trusted key
        QByteArray station;
        int signIn = 0;
        int signOut = 0;
        int last = 0; // the run's last line
        int lines = 0; // its attempts
        qint64 in = 0; // ms since 1970 UTC
        qint64 out = 0;
    };
    QList<Run> runs;
    /// Operators named on lines of no run: typed, not proven by a key.
    QStringList typedOperators;

    /// A person's sign-off of the record up to a head.
    struct SignOff
    {
        int line = 0;
        QByteArray person;
        QString name;
        bool proven = false;
        QString meaning; // reviewed, approved
        QString reason;
        QString zone; // the UTC offset of the computer it was made on: "UTC+01:00"
        qint64 time = 0;
        Head covers;
        int coversLine = 0; // the line it covers up to; 0 when the record does not hold it
    };
    QList<SignOff> signOffs;
    /// The last line covered by a sign-off that holds; 0 for none.
    int signedOffThrough = 0;

    struct HeadCheck
    {
        Head head;
        bool held = false;
        QString problem;
    };
    QList<HeadCheck> heads;

    /// The faults of line (from 1); none for a line that holds.
    QList<const Fault *> faultsOf(int line) const;
    /// Every check holds: every line readable or carried, the chain and each "seq", the heads
    /// and, when they were checked, the signature of every line by a trusted key, of which a
    /// record with no line has none.
    bool passed() const;
    bool chainHolds() const { return result != Broken; }
    bool signaturesHold() const;

    /// The places in faults of each line's faults, by line.
    QHash<int, QVector<int>> faultIndex;
};

/// What to check besides the chain.
struct Checks
{
    const Trust::Keys *trusted = nullptr;
    QList<Head> heads;
};

/// Checks a record's bytes.
Verification verify(const QByteArray &data, const Checks &checks = {});

/// Reads and checks the record at path; nothing when it cannot be read. data, when given,
/// receives the record's bytes.
std::optional<Verification> verifyFile(const QString &path, const Checks &checks, QString *error,
                                       QByteArray *data = nullptr);

} // namespace Audit
