#include "recordcommands.h"

#include "station/terminaltext.h"

#include "commands.h"
#include "record/account.h"
#include "record/audit.h"
#include "record/files.h"
#include "station/choices.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QSaveFile>

namespace {

const char *const kResults[] = {"whole", "broken", "unchained"};
const char *const kFaults[]
    = {"unreadable", "chain", "seq", "signature", "untrusted", "unsigned", "role", "people"};
// How many lines at fault in the chain the text names; --json gives them all.
constexpr int kFaultsShown = 20;

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QJsonObject verificationJson(const QString &path, const Audit::Verification &check)
{
    QJsonObject result {{QStringLiteral("record"), path},
                        {QStringLiteral("verified"), check.passed()},
                        {QStringLiteral("result"), QLatin1String(kResults[check.result])},
                        {QStringLiteral("lines"), check.lines},
                        {QStringLiteral("unchained"), check.unchained}};
    if (check.head.seq > 0)
        result.insert(QStringLiteral("head"), check.head.text());
    QJsonArray faults;
    for (const Audit::Verification::Fault &fault : check.faults)
        faults.append(QJsonObject {{QStringLiteral("line"), fault.line},
                                   {QStringLiteral("kind"), QLatin1String(kFaults[fault.kind])},
                                   {QStringLiteral("problem"), fault.problem}});
    result.insert(QStringLiteral("faults"), faults);
    QJsonArray blank;
    for (int line : check.blank)
        blank.append(line);
    result.insert(QStringLiteral("blank"), blank);
    result.insert(QStringLiteral("crlf"), check.crlf);
    // A signer's lines: with trusted keys, those that hold every check; else every one it names.
    QJsonArray signers;
    for (const Audit::Verification::Signer &signer : check.signers) {
        QJsonArray runs;
        for (const auto &run : signer.runs)
            runs.append(QJsonArray {run.first, run.second});
        QJsonObject entry {{QStringLiteral("signer"), QLatin1String(signer.signer)},
                           {QStringLiteral("lines"), signer.count},
                           {QStringLiteral("runs"), runs}};
        if (check.trustChecked)
            entry.insert(QStringLiteral("trusted"), signer.trusted);
        signers.append(entry);
    }
    result.insert(QStringLiteral("signatures"),
                  QJsonObject {{QStringLiteral("checked"), check.trustChecked},
                               {QStringLiteral("signers"), signers}});
    QJsonArray repairs;
    for (const Audit::Verification::Repair &repair : check.repairs) {
        QJsonObject entry {{QStringLiteral("cutLine"), repair.cutLine},
                           {QStringLiteral("repairLine"), repair.repairLine},
                           {QStringLiteral("bytes"), repair.bytes},
                           {QStringLiteral("cutShort"), repair.atEnd}};
        if (!repair.device.isEmpty())
            entry.insert(QStringLiteral("device"), repair.device);
        for (const char *key : {"time", "host", "user", "operator"})
            entry.insert(QLatin1String(key), repair.by.value(QLatin1String(key)));
        repairs.append(entry);
    }
    result.insert(QStringLiteral("repairs"), repairs);
    QJsonArray late;
    for (const Audit::Verification::Late &run : check.late) {
        QJsonObject entry = run.by;
        entry.insert(QStringLiteral("first"), run.first);
        entry.insert(QStringLiteral("last"), run.last);
        late.append(entry);
    }
    result.insert(QStringLiteral("late"), late);
    QJsonArray runs;
    for (const Audit::Verification::Run &run : check.runs)
        runs.append(QJsonObject {
            {QStringLiteral("person"), QLatin1String(run.person)},
            {QStringLiteral("name"), run.name},
            {QStringLiteral("proven"), run.proven},
            {QStringLiteral("station"), QLatin1String(run.station)},
            {QStringLiteral("signIn"), run.signIn},
            {QStringLiteral("signOut"), run.signOut ? QJsonValue(run.signOut) : QJsonValue()},
            {QStringLiteral("last"), run.last},
            {QStringLiteral("attempts"), run.lines}});
    result.insert(QStringLiteral("runs"), runs);
    QJsonArray signOffs;
    for (const Audit::Verification::SignOff &off : check.signOffs)
        signOffs.append(QJsonObject {{QStringLiteral("line"), off.line},
                                     {QStringLiteral("person"), QLatin1String(off.person)},
                                     {QStringLiteral("name"), off.name},
                                     {QStringLiteral("proven"), off.proven},
                                     {QStringLiteral("meaning"), off.meaning},
                                     {QStringLiteral("reason"), off.reason},
                                     {QStringLiteral("covers"), off.covers.text()},
                                     {QStringLiteral("coversLine"), off.coversLine}});
    result.insert(QStringLiteral("signOffs"), signOffs);
    result.insert(QStringLiteral("signedOffThrough"), check.signedOffThrough);
    QJsonArray heads;
    for (const Audit::Verification::HeadCheck &head : check.heads) {
        QJsonObject entry {{QStringLiteral("head"), head.head.text()},
                           {QStringLiteral("held"), head.held}};
        if (!head.held)
            entry.insert(QStringLiteral("problem"), head.problem);
        heads.append(entry);
    }
    result.insert(QStringLiteral("heads"), heads);
    return result;
}

// The signature and key options of audit append-owed and repair.
std::optional<std::shared_ptr<const StationKey>> keyFor(const QString &keyPath)
{
    QString error;
    std::shared_ptr<const StationKey> key;
    if (!Choices::stationKey(keyPath, &key, &error)) {
        standardError() << "tempyra-cli: " << error << Qt::endl;
        return std::nullopt;
    }
    return key;
}

} // namespace

int verifyRecord(const QString &path, const QStringList &trust, const QList<Audit::Head> &heads,
                 bool json)
{
    QString error;
    std::optional<Trust::Keys> trusted;
    if (!trust.isEmpty() && !(trusted = Trust::read(trust, &error))) {
        standardError() << "tempyra-cli: " << error << Qt::endl;
        return kExitUsage;
    }
    const std::optional<Audit::Verification> check
        = Audit::verifyFile(path, {trusted ? &*trusted : nullptr, heads}, &error);
    if (!check) {
        standardError() << "tempyra-cli: " << error << Qt::endl;
        return kExitUsage;
    }
    if (json) {
        standardOutput() << QJsonDocument(verificationJson(path, *check)).toJson() << Qt::flush;
    } else {
        QStringList texts {Report::chainVerdict(*check)};
        texts += Report::chainFaultTexts(*check, kFaultsShown);
        if (texts.size() > kFaultsShown)
            texts.last() += QStringLiteral(" (--json lists them all)");
        for (const Audit::Verification::Repair &repair : check->repairs)
            texts.append(Report::repairText(repair));
        for (const Audit::Verification::Late &late : check->late)
            texts.append(Report::lateText(late));
        texts += Report::formTexts(*check);
        texts += Report::signatureTexts(*check);
        texts += Report::peopleTexts(*check);
        for (const Audit::Verification::HeadCheck &head : check->heads)
            texts.append(
                QStringLiteral("head %1 noted: %2")
                    .arg(head.head.text(), head.held ? QStringLiteral("held") : head.problem));
        if (check->head.seq > 0)
            texts.append(QStringLiteral("head %1").arg(check->head.text()));
        for (const QString &text : qAsConst(texts))
            // A record is anyone's to edit: what it names reaches the terminal escaped.
            standardOutput() << path << ": " << terminalText(text) << Qt::endl;
    }
    return check->passed() ? kExitDone : kExitFailed;
}

int repairRecord(const QString &path, const QString &keyPath, const QString &operatorName)
{
    const std::optional<std::shared_ptr<const StationKey>> key = keyFor(keyPath);
    if (!key)
        return kExitUsage;
    QString error;
    const std::optional<Audit::Repaired> repaired
        = Audit::repair(path, key->get(), operatorName, &error);
    if (!repaired) {
        standardError() << "tempyra-cli: " << error << Qt::endl;
        return kExitUsage;
    }
    const QString name = native(path);
    if (repaired->lines.isEmpty() && !repaired->newline) {
        standardError() << "tempyra-cli: " << name
                        << ": every line can be read or is carried already; nothing to repair"
                        << Qt::endl;
        return kExitDone;
    }
    if (repaired->newline)
        standardError() << "tempyra-cli: " << name
                        << ": its last line was whole but for its newline, which is put back"
                        << Qt::endl;
    if (!repaired->lines.isEmpty()) {
        if (!*key)
            standardError() << "tempyra-cli: " << Choices::unsignedWarning() << Qt::endl;
        QStringList numbers;
        for (int line : repaired->lines)
            numbers.append(QString::number(line));
        standardError() << "tempyra-cli: " << name << ": "
                        << (numbers.size() == 1 ? QStringLiteral("line %1, which cannot be read, "
                                                                 "is carried by a new line")
                                                      .arg(numbers.first())
                                                : QStringLiteral("lines %1, which cannot be read, "
                                                                 "are carried by new lines")
                                                      .arg(numbers.join(QLatin1String(", "))))
                        << ", and the record goes on" << Qt::endl;
    }
    standardError() << "tempyra-cli: head " << repaired->head.text() << Qt::endl;
    return kExitDone;
}

int appendOwedRecord(const QString &path, const QString &owedPath, const QString &keyPath,
                     const QStringList &trust, const QString &operatorName)
{
    const std::optional<std::shared_ptr<const StationKey>> key = keyFor(keyPath);
    if (!key)
        return kExitUsage;
    QString error;
    Trust::Keys trusted;
    if (!trust.isEmpty()) {
        const std::optional<Trust::Keys> read = Trust::read(trust, &error);
        if (!read) {
            standardError() << "tempyra-cli: " << error << Qt::endl;
            return kExitUsage;
        }
        trusted = *read;
    }
    const std::optional<Audit::AppendedOwed> done
        = Audit::appendOwed(path, owedPath, key->get(), trusted, operatorName, &error);
    if (!done) {
        standardError() << "tempyra-cli: " << error << Qt::endl;
        return kExitUsage;
    }
    if (!*key && done->appended > 0)
        standardError() << "tempyra-cli: " << Choices::unsignedWarning() << Qt::endl;
    if (done->already > 0)
        standardError() << "tempyra-cli: " << native(path) << " holds "
                        << (done->already == 1
                                ? QStringLiteral("1 of these lines")
                                : QStringLiteral("%1 of these lines").arg(done->already))
                        << " already, appended from " << native(owedPath) << " before" << Qt::endl;
    if (done->appended == 0) {
        standardError() << "tempyra-cli: nothing more to append" << Qt::endl;
        return kExitDone;
    }
    standardError() << "tempyra-cli: " << native(path) << ": "
                    << counted(done->appended, "owed line")
                    << " appended, each with its own time and content and the time it came late"
                    << Qt::endl
                    << "tempyra-cli: head " << done->head.text() << " of " << native(path)
                    << Qt::endl;
    return kExitDone;
}

int newKey(const QString &keyPath)
{
    const QString path = keyPath.isEmpty() ? Audit::defaultKeyPath() : keyPath;
    if (QFileInfo::exists(path)) {
        standardError() << "tempyra-cli: the station key " << native(path)
                        << " exists already; a new one would have to be trusted anew by whoever "
                           "checks the record. Remove it first if that is what you mean."
                        << Qt::endl;
        return kExitUsage;
    }
    if (keyPath.isEmpty())
        QDir().mkpath(QFileInfo(path).absolutePath());
    QString error;
    const QString comment
        = QStringLiteral("made by %1 on %2 on %3")
              .arg(Account::userName(), Account::hostName(),
                   QLocale::c().toString(QDate::currentDate(), QStringLiteral("yyyy-MM-dd")));
    const std::optional<StationKey> key = StationKey::create(path, comment, &error);
    if (!key) {
        standardError() << "tempyra-cli: " << error << Qt::endl;
        return kExitUsage;
    }
    standardOutput() << key->publicKeyFile() << Qt::flush;
    standardError() << "tempyra-cli: made the station key " << key->fingerprint() << " in "
                    << native(path) << ", readable by this account only. "
                    << (Files::standardOutputIsTerminal()
                            ? "Give the public key above to whoever checks the record "
                              "(\"tempyra-cli key show > station.pub\" writes it to a file)"
                            : "Its public key went to standard output, a file or a pipe: give "
                              "that to whoever checks the record")
                    << "; keep the key itself here." << Qt::endl;
    return kExitDone;
}

int showKey(const QString &keyPath)
{
    const QString path = keyPath.isEmpty() ? Audit::defaultKeyPath() : keyPath;
    if (!QFileInfo::exists(path)) {
        standardError() << "tempyra-cli: no station key at " << native(path)
                        << " (\"tempyra-cli key new\" makes one)" << Qt::endl;
        return kExitUsage;
    }
    QString error;
    const std::optional<StationKey> key = StationKey::load(path, &error);
    if (!key) {
        standardError() << "tempyra-cli: " << error << Qt::endl;
        return kExitUsage;
    }
    standardOutput() << key->publicKeyFile() << Qt::flush;
    return kExitDone;
}

int writeReport(const QString &path, const Report::Options &options, const QString &output)
{
    QString error;
    QByteArray data;
    const std::optional<Audit::Verification> check = Report::check(path, options, &data, &error);
    if (!check) {
        standardError() << "tempyra-cli: " << error << Qt::endl;
        return kExitUsage;
    }
    // The page goes out as it is made, in UTF-8 whatever the locale's encoding.
    const QDateTime now = QDateTime::currentDateTime();
    if (output.isEmpty()) {
        standardOutput().flush();
        QFile file;
        if (!file.open(stdout, QIODevice::WriteOnly)
            || !Report::write(file, data, *check, path, options, now) || !file.flush()) {
            standardError() << "tempyra-cli: cannot write the report: " << file.errorString()
                            << Qt::endl;
            return kExitUsage;
        }
    } else {
        QSaveFile file(output);
        if (!file.open(QIODevice::WriteOnly)
            || !Report::write(file, data, *check, path, options, now) || !file.commit()) {
            standardError() << "tempyra-cli: cannot write " << output << ": " << file.errorString()
                            << Qt::endl;
            return kExitUsage;
        }
    }
    if (check->passed())
        return kExitDone;
    // What fails the record: its chain, or else its signatures.
    const QStringList texts = check->result != Audit::Verification::Whole
        ? QStringList {Report::chainVerdict(*check)} + Report::chainFaultTexts(*check, 5)
        : Report::signatureTexts(*check);
    for (const QString &text : texts)
        standardError() << "tempyra-cli: " << path << ": " << terminalText(text) << Qt::endl;
    return kExitFailed;
}
