// tempyra-cli: lists, reads, writes and provisions Tempyra loggers from the command line, and
// checks and reports the audit record of its writes.

#include "commands.h"
#include "peoplecommands.h"
#include "record/audit.h"
#include "record/files.h"
#include "recordcommands.h"
#include "station/choices.h"
#include "station/profile.h"
#include "station/signedrun.h"

#include "app/terminationsignals.h"
#include "device/loggerprotocol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

const QString kList = QStringLiteral("list");
const QString kRead = QStringLiteral("read");
const QString kWrite = QStringLiteral("write");
const QString kProvision = QStringLiteral("provision");
const QString kAudit = QStringLiteral("audit");
const QString kReport = QStringLiteral("report");
const QString kKey = QStringLiteral("key");
const QString kPerson = QStringLiteral("person");
const QString kTrust = QStringLiteral("trust");
const QString kProfile = QStringLiteral("profile");

// Qt's own warnings (a port's, a file's) speak of its classes, not of loggers and records: what
// went wrong reaches the user as the program's own message. Only a fatal one gets through;
// TEMPYRA_CLI_QT_MESSAGES=1 shows them all, for a developer.
void qtMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    static const bool all = qEnvironmentVariableIntValue("TEMPYRA_CLI_QT_MESSAGES") == 1;
    if (all || type == QtFatalMsg)
        std::fprintf(stderr, "tempyra-cli: Qt: %s\n", qUtf8Printable(message));
}

int usageError(const QString &message)
{
    standardError() << "tempyra-cli: " << message << Qt::endl;
    return kExitUsage;
}

// Help and version go to standard output, always. QCommandLineParser's own showHelp() and
// showVersion() open a message box on Windows when the program has no console (started by a
// scheduler, a service or a script without redirected handles), where nobody may answer it.
int printHelp(const QCommandLineParser &parser)
{
    // Its usage line names the program by the path it was started with.
    QString help = parser.helpText();
    const QString started = QCoreApplication::arguments().value(0);
    const QString usage = QStringLiteral("Usage: ");
    if (help.startsWith(usage + started))
        help.replace(usage.size(), started.size(), QCoreApplication::applicationName());
    standardOutput() << help << Qt::flush;
    return kExitDone;
}

int printVersion()
{
    standardOutput() << QCoreApplication::applicationName() << ' '
                     << QCoreApplication::applicationVersion() << Qt::endl;
    return kExitDone;
}

QString verbDescription(const QString &verb)
{
    if (verb == kList)
        return QStringLiteral("Lists the ports with the logger's USB identifiers: name, system "
                              "location, USB serial number, whether a logger answered the "
                              "identification request, and its device identifier.");
    if (verb == kRead)
        return QStringLiteral("Reads the configuration of a logger: its device identifier, every "
                              "setting under the profile's key names, and its clock with the "
                              "offset in seconds from the current time of the zone it holds.");
    if (verb == kWrite)
        return QStringLiteral("Writes the profile's configuration with the current time of its "
                              "zone, reads it back and compares every field, and the clock to "
                              "within 2 s. Each attempt is appended to the audit record; a "
                              "summary ends the run.");
    if (verb == kProvision)
        return QStringLiteral("A provisioning station: every logger plugged in is identified, "
                              "written and verified once, and recorded. Runs until Ctrl-C, which "
                              "lets the writes in progress finish (a second one ends at once), "
                              "or with --expect until every listed logger is verified.");
    if (verb == kAudit)
        return QStringLiteral(
            "audit verify FILE: checks that no line of the audit record was changed, removed, "
            "inserted or reordered, and with --trust that every line is signed by a trusted "
            "station key, so that no one without the key rewrote it; with --head, that it still "
            "holds a line noted earlier, so that no line before it was rewritten and none cut "
            "off. Exit status 0 when every check holds, 1 naming what does not, 2 when the record "
            "or a key cannot be read. Without --trust no signature is checked, and a record "
            "rewritten by someone without the key can pass: give --trust (or --head) to rely on "
            "exit status 0.\naudit repair FILE: carries each line that cannot be read (a write "
            "that was interrupted, a line garbled later) into the record with a line of its own, "
            "and puts back a missing last newline, so that stations can append to it again.\n"
            "audit sign-off FILE --sign-as KEY --meaning reviewed|approved [--reason TEXT] "
            "[--head SEQ:HASH]: a reviewer's or approver's signed line covering the record up to "
            "its head (or an earlier head noted).\n"
            "audit append-owed FILE OWED: appends the lines a station owed to the record and "
            "kept in the file OWED, each chained and signed anew with its own time and content "
            "and marked as appended late.");
    if (verb == kPerson)
        return QStringLiteral(
            "person new NAME: makes a person's own key, with which they sign in to a station, "
            "sign off a record or approve a profile; its secret half is sealed with a "
            "passphrase, asked twice (or read from --passphrase-file), and kept in a file only "
            "this account can read; the public half, with the name, goes to standard output for "
            "the team file.\nperson show: prints the public half again.");
    if (verb == kTrust)
        return QStringLiteral(
            "trust add TEAM KEY.pub --role station|operator|reviewer|approver [--from DATE] "
            "[--until DATE]: trusts a key in the team file TEAM for a role, from and until a "
            "time (UTC).\ntrust revoke TEAM FINGERPRINT [--since DATE]: trusts the key no more "
            "from that time on (default now); lines it signed before stay trusted.\ntrust list "
            "TEAM: the keys, their names, roles and validity. audit verify, report and "
            "--require-approved take the team file with --trust.");
    if (verb == kProfile)
        return QStringLiteral("profile approve PROFILE --sign-as KEY: writes PROFILE.approval, "
                              "the approver's signature of the profile's exact bytes; stations "
                              "with --require-approved write only profiles so approved, by a "
                              "trusted approver other than their operator.");
    if (verb == kKey)
        return QStringLiteral(
            "key new: makes this station's key, which signs every audit line it appends; the "
            "secret half stays in a file only this account can read, the public half is printed "
            "for whoever checks the record.\nkey show: prints the public key again, in the form "
            "that \"audit verify --trust\" reads (tempyra-cli key show > station.pub).");
    return QStringLiteral("A printable page (HTML, self-contained) of the audit record: its "
                          "loggers with each one's final outcome, the attempts, the period, "
                          "stations, operators, profiles, whether the chain is whole and who "
                          "signed it, with the record's head on every page.");
}

// An option's value, or nothing when it is not given.
std::optional<QString> given(const QCommandLineParser &parser, const QString &name)
{
    return parser.isSet(name) ? std::optional<QString>(parser.value(name)) : std::nullopt;
}

void addWriteOptions(QCommandLineParser &parser, const QString &verb)
{
    parser.addPositionalArgument(QStringLiteral("PROFILE"),
                                 QStringLiteral("JSON profile; keys ")
                                     + Profile::keys().join(QLatin1String(", ")));
    parser.addOptions(
        {{QStringLiteral("set"),
          QStringLiteral("Overrides one key of the profile, e.g. interval=00:15 or "
                         "alarm.lower=2 (repeatable)."),
          QStringLiteral("KEY=VALUE")},
         {QStringLiteral("log"),
          QStringLiteral("Audit record file (default ") + Audit::defaultPath()
              + QStringLiteral("); its folder must exist."),
          QStringLiteral("FILE")},
         {QStringLiteral("key"),
          QStringLiteral("The station key that signs the audit lines (default ")
              + Audit::defaultKeyPath() + QStringLiteral(", when it exists)."),
          QStringLiteral("FILE")},
         {QStringLiteral("operator"),
          QStringLiteral("The person recorded with each write (default: the account's user)."),
          QStringLiteral("NAME")},
         {QStringLiteral("expect"),
          QStringLiteral("Only the loggers whose device identifiers FILE lists, one a line, are "
                         "written; any other is refused.")
              + (verb == kProvision ? QStringLiteral(" The station ends once each is verified.")
                                    : QString()),
          QStringLiteral("FILE")},
         {QStringLiteral("retries"),
          QStringLiteral("Further attempts after a failed or mismatched one (default 1)."),
          QStringLiteral("N")},
         {QStringLiteral("settle"),
          QStringLiteral("Pause between the write and the read-back (default 0)."),
          QStringLiteral("MS")},
         {QStringLiteral("sign-as"),
          QStringLiteral("The operator's own key (\"person new\"), opened with its passphrase: "
                         "the run is signed in and out by them, each line names them."),
          QStringLiteral("KEY")},
         {QStringLiteral("passphrase-file"),
          QStringLiteral("The passphrase of --sign-as, the file's first line, for scripts; the "
                         "file must be readable by this account only."),
          QStringLiteral("FILE")},
         {QStringLiteral("require-approved"),
          QStringLiteral("Write the profile only with a valid approval (PROFILE.approval) by an "
                         "approver of the team file given with --trust who is not the operator.")},
         {QStringLiteral("trust"),
          QStringLiteral("With --require-approved: the team file (or key files) of the "
                         "approvers."),
          QStringLiteral("KEYS")}});
}

// The choices of write and provision, checked as the station window checks its own.
std::optional<WriteOptions> writeOptions(const QCommandLineParser &parser, const QString &profile,
                                         QString *error)
{
    Choices::Given choices;
    choices.profile = profile;
    choices.settings = parser.values(QStringLiteral("set"));
    choices.operatorName = given(parser, QStringLiteral("operator"));
    choices.expect = parser.value(QStringLiteral("expect"));
    choices.log = given(parser, QStringLiteral("log"));
    choices.key = parser.value(QStringLiteral("key"));
    choices.retries = given(parser, QStringLiteral("retries"));
    choices.settle = given(parser, QStringLiteral("settle"));
    choices.replyTimeout = given(parser, QStringLiteral("reply-timeout"));
    choices.verify = !parser.optionNames().contains(QStringLiteral("no-verify"));
    std::optional<WriteOptions> options = Choices::writeOptions(choices, error);
    if (!options)
        return std::nullopt;
    // The people last, the passphrase asked once everything else holds.
    SignedRun run;
    run.requireApproved = parser.isSet(QStringLiteral("require-approved"));
    run.profilePath = profile;
    run.overridden = parser.isSet(QStringLiteral("set"));
    if (parser.isSet(QStringLiteral("trust"))
        && !(run.trusted = Trust::read(parser.values(QStringLiteral("trust")), error)))
        return std::nullopt;
    if (parser.isSet(QStringLiteral("sign-as"))
        && !(run.person = openPersonKey(parser.value(QStringLiteral("sign-as")),
                                        parser.value(QStringLiteral("passphrase-file")), error)))
        return std::nullopt;
    if (!prepareSignedRun(*options, run, error))
        return std::nullopt;
    return options;
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(qtMessage);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tempyra-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TEMPYRA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Configures Tempyra temperature loggers and keeps the audit record of "
                       "their writes. Exit status: 0 every logger done (and verified), 1 a "
                       "logger failed (or a record's chain is broken), 2 a usage or profile "
                       "error.\nProfile keys: ")
        + Profile::keys().join(QLatin1String(", ")));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("list, read, write, provision, audit, report, "
                                                "key, person, trust or profile; "
                                                "\"tempyra-cli COMMAND --help\" tells more."),
                                 QStringLiteral("command"));
    // The first pass only finds the command; its options are known once it is.
    parser.parse(QCoreApplication::arguments());
    const QString verb = parser.positionalArguments().value(0);
    if (!QStringList {kList, kRead, kWrite, kProvision, kAudit, kReport, kKey, kPerson, kTrust,
                      kProfile}
             .contains(verb)) {
        if (parser.isSet(QStringLiteral("version")))
            return printVersion();
        if (parser.isSet(QStringLiteral("help")))
            return printHelp(parser);
        return usageError(verb.isEmpty() ? QStringLiteral("no command given (see --help)")
                                         : QStringLiteral("unknown command ") + verb);
    }

    parser.clearPositionalArguments();
    parser.setApplicationDescription(verbDescription(verb));
    const bool writes = verb == kWrite || verb == kProvision;
    parser.addPositionalArgument(verb, QStringLiteral("The command."), verb);
    if (writes)
        addWriteOptions(parser, verb);
    const QCommandLineOption trust(
        QStringLiteral("trust"),
        QStringLiteral("A public key file (as \"key show\" and \"person show\" print it), a "
                       "folder of *.pub key files, or a team file, whose signatures are trusted "
                       "(repeatable)."),
        QStringLiteral("KEYS"));
    if (verb == kAudit) {
        parser.addPositionalArgument(QStringLiteral("verify|repair|append-owed|sign-off"),
                                     QStringLiteral("The work."));
        parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The audit record."));
        parser.addPositionalArgument(QStringLiteral("[OWED]"),
                                     QStringLiteral("append-owed: the file of owed lines."));
        parser.addOptions(
            {trust,
             {QStringLiteral("head"),
              QStringLiteral("verify: a head noted earlier, SEQ:HASH as write and provision print "
                             "it (at least %1 digits of the hash; repeatable).")
                  .arg(Audit::kShortestHeadHash),
              QStringLiteral("SEQ:HASH")},
             {QStringLiteral("key"),
              QStringLiteral("repair, append-owed: the station key that signs the lines "
                             "appended (default ")
                  + Audit::defaultKeyPath() + QStringLiteral(", when it exists)."),
              QStringLiteral("FILE")},
             {QStringLiteral("operator"),
              QStringLiteral("repair, append-owed: the person recorded with the lines appended "
                             "(default: the account's user)."),
              QStringLiteral("NAME")},
             {QStringLiteral("sign-as"),
              QStringLiteral("sign-off: the reviewer's or approver's own key."),
              QStringLiteral("KEY")},
             {QStringLiteral("passphrase-file"),
              QStringLiteral("sign-off: the passphrase of --sign-as, the file's first line."),
              QStringLiteral("FILE")},
             {QStringLiteral("meaning"), QStringLiteral("sign-off: reviewed or approved."),
              QStringLiteral("MEANING")},
             {QStringLiteral("reason"), QStringLiteral("sign-off: why, in a line."),
              QStringLiteral("TEXT")}});
    }
    if (verb == kPerson) {
        parser.addPositionalArgument(QStringLiteral("new|show"), QStringLiteral("The work."));
        parser.addPositionalArgument(QStringLiteral("[NAME]"),
                                     QStringLiteral("new: the person's name as it is printed."));
        parser.addOptions(
            {{QStringLiteral("key"),
              QStringLiteral("The person's key file (default ") + PersonKey::defaultPath()
                  + QStringLiteral(")."),
              QStringLiteral("FILE")},
             {QStringLiteral("passphrase-file"),
              QStringLiteral("new: the passphrase, the file's first line, for scripts; the file "
                             "must be readable by this account only."),
              QStringLiteral("FILE")}});
    }
    if (verb == kTrust) {
        parser.addPositionalArgument(QStringLiteral("add|revoke|list"),
                                     QStringLiteral("The work."));
        parser.addPositionalArgument(QStringLiteral("TEAM"), QStringLiteral("The team file."));
        parser.addPositionalArgument(QStringLiteral("[KEY.pub|FINGERPRINT]"),
                                     QStringLiteral("add: the key file; revoke: the key."));
        parser.addOptions(
            {{QStringLiteral("role"),
              QStringLiteral("add: station, operator, reviewer or approver."),
              QStringLiteral("ROLE")},
             {QStringLiteral("from"), QStringLiteral("add: trusted from this date or time (UTC)."),
              QStringLiteral("DATE")},
             {QStringLiteral("until"), QStringLiteral("add: trusted until this date or time."),
              QStringLiteral("DATE")},
             {QStringLiteral("since"),
              QStringLiteral("revoke: trusted no more from this date or time (default: now)."),
              QStringLiteral("DATE")}});
    }
    if (verb == kProfile) {
        parser.addPositionalArgument(QStringLiteral("approve"), QStringLiteral("The work."));
        parser.addPositionalArgument(QStringLiteral("PROFILE"), QStringLiteral("The profile."));
        parser.addOptions({{QStringLiteral("sign-as"), QStringLiteral("The approver's own key."),
                            QStringLiteral("KEY")},
                           {QStringLiteral("passphrase-file"),
                            QStringLiteral("The passphrase of --sign-as, the file's first line."),
                            QStringLiteral("FILE")}});
    }
    if (verb == kKey) {
        parser.addPositionalArgument(QStringLiteral("new|show"), QStringLiteral("The work."));
        parser.addOption({QStringLiteral("key"),
                          QStringLiteral("The station key's file (default ")
                              + Audit::defaultKeyPath() + QStringLiteral(")."),
                          QStringLiteral("FILE")});
    }
    if (verb == kReport) {
        parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The audit record."));
        parser.addOption(trust);
        parser.addOption({QStringLiteral("expect"),
                          QStringLiteral("The shipment's list of device identifiers, one a line: "
                                         "the report tells which were verified."),
                          QStringLiteral("FILE")});
        parser.addOptions(
            {{QStringLiteral("since"),
              QStringLiteral("Writes from this time on: 2026-12-06, \"2026-12-06 14:30\" (local "
                             "time) or 2026-12-06T14:30Z."),
              QStringLiteral("TIME")},
             {QStringLiteral("until"),
              QStringLiteral("Writes before this time; a date alone includes that day."),
              QStringLiteral("TIME")},
             {QStringLiteral("output"), QStringLiteral("The page (default: standard output)."),
              QStringLiteral("PAGE.html")}});
    }
    if (verb == kRead || verb == kWrite || verb == kProvision)
        parser.addOption({QStringLiteral("port"),
                          QStringLiteral("The logger on this port (name or location), even one "
                                         "the system lists without the logger's USB identifiers "
                                         "or does not list at all (repeatable)."),
                          QStringLiteral("NAME")});
    if (verb == kList || verb == kRead || verb == kWrite || verb == kProvision)
        parser.addOption(
            {QStringLiteral("reply-timeout"),
             QStringLiteral("How long a logger is given to answer the identification request, "
                            "the identifier request and the configuration read (default %1, as "
                            "the window; up to %2), for a slow logger.")
                 .arg(LoggerProtocol::kReplyTimeoutMs)
                 .arg(Choices::kLongestReplyTimeoutMs),
             QStringLiteral("MS")});
    if (verb == kRead || verb == kWrite)
        parser.addOption({QStringLiteral("all"),
                          QStringLiteral("Every logger plugged in, all at the same time.")});
    if (verb == kWrite)
        parser.addOption(
            {QStringLiteral("no-verify"), QStringLiteral("Do not read the configuration back.")});
    if (verb != kReport && verb != kKey && verb != kPerson && verb != kTrust && verb != kProfile)
        parser.addOption({QStringLiteral("json"),
                          QStringLiteral("Results as one JSON document on standard output.")});

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        return printHelp(parser);
    const QStringList arguments = parser.positionalArguments().mid(1);
    const bool json = parser.optionNames().contains(QStringLiteral("json"));

    if (verb == kKey) {
        if (arguments.size() != 1
            || !QStringList {QStringLiteral("new"), QStringLiteral("show")}.contains(
                arguments.first()))
            return usageError(QStringLiteral("key takes: new, or show"));
        const QString path = parser.value(QStringLiteral("key"));
        return arguments.first() == QLatin1String("new") ? newKey(path) : showKey(path);
    }
    if (verb == kPerson) {
        const QString work = arguments.value(0);
        if (work == QLatin1String("new") && arguments.size() == 2)
            return newPerson(arguments.at(1), parser.value(QStringLiteral("key")),
                             parser.value(QStringLiteral("passphrase-file")));
        if (work == QLatin1String("show") && arguments.size() == 1)
            return showPerson(parser.value(QStringLiteral("key")));
        return usageError(QStringLiteral("person takes: new NAME, or show"));
    }
    if (verb == kTrust) {
        const QString work = arguments.value(0);
        if (work == QLatin1String("add") && arguments.size() == 3)
            return trustAdd(arguments.at(1), arguments.at(2), parser.value(QStringLiteral("role")),
                            parser.value(QStringLiteral("from")),
                            parser.value(QStringLiteral("until")));
        if (work == QLatin1String("revoke") && arguments.size() == 3)
            return trustRevoke(arguments.at(1), arguments.at(2),
                               parser.value(QStringLiteral("since")));
        if (work == QLatin1String("list") && arguments.size() == 2)
            return trustList(arguments.at(1));
        return usageError(QStringLiteral("trust takes: add TEAM KEY.pub --role ROLE, revoke TEAM "
                                         "FINGERPRINT, or list TEAM"));
    }
    if (verb == kProfile) {
        if (arguments.size() != 2 || arguments.first() != QLatin1String("approve"))
            return usageError(QStringLiteral("profile takes: approve PROFILE --sign-as KEY"));
        return approveProfile(arguments.at(1), parser.value(QStringLiteral("sign-as")),
                              parser.value(QStringLiteral("passphrase-file")));
    }
    if (verb == kAudit) {
        const QString work = arguments.value(0);
        const bool appendOwed = work == QLatin1String("append-owed");
        if (work == QLatin1String("sign-off")) {
            if (arguments.size() != 2)
                return usageError(QStringLiteral("audit sign-off takes one FILE"));
            return signOff(arguments.at(1), parser.value(QStringLiteral("sign-as")),
                           parser.value(QStringLiteral("passphrase-file")),
                           parser.value(QStringLiteral("meaning")),
                           parser.value(QStringLiteral("reason")),
                           parser.values(QStringLiteral("head")).value(0));
        }
        if (arguments.size() != (appendOwed ? 3 : 2)
            || (work != QLatin1String("verify") && work != QLatin1String("repair") && !appendOwed))
            return usageError(QStringLiteral("audit takes: verify FILE, repair FILE, or "
                                             "append-owed FILE OWED"));
        if (work == QLatin1String("repair"))
            return repairRecord(arguments.at(1), parser.value(QStringLiteral("key")),
                                parser.value(QStringLiteral("operator")).trimmed());
        if (appendOwed)
            return appendOwedRecord(arguments.at(1), arguments.at(2),
                                    parser.value(QStringLiteral("key")), parser.values(trust),
                                    parser.value(QStringLiteral("operator")).trimmed());
        QList<Audit::Head> heads;
        for (const QString &text : parser.values(QStringLiteral("head"))) {
            const std::optional<Audit::Head> head = Audit::Head::parse(text);
            if (!head)
                return usageError(QStringLiteral("--head: %1 is no head; write SEQ:HASH, as write "
                                                 "and provision print it, with at least %2 "
                                                 "digits of the hash")
                                      .arg(Profile::shortText(text))
                                      .arg(Audit::kShortestHeadHash));
            heads.append(*head);
        }
        return verifyRecord(arguments.at(1), parser.values(trust), heads, json);
    }
    if (verb == kReport) {
        if (arguments.size() != 1)
            return usageError(QStringLiteral("report takes one FILE"));
        Report::Options options;
        options.trust = parser.values(trust);
        if (parser.isSet(QStringLiteral("expect"))) {
            QString error;
            const std::optional<ExpectedList> expected
                = Choices::expectedList(parser.value(QStringLiteral("expect")), &error);
            if (!expected)
                return usageError(error);
            options.expected = expected->toStringList();
        }
        Report::Period &period = options.period;
        for (const QString &name : {QStringLiteral("since"), QStringLiteral("until")}) {
            if (!parser.isSet(name))
                continue;
            const std::optional<QDateTime> time
                = Report::parseTime(parser.value(name), name == QLatin1String("until"));
            if (!time)
                return usageError(QStringLiteral("--%1: %2 is no date or time (2026-12-06, "
                                                 "\"2026-12-06 14:30\", 2026-12-06T14:30Z)")
                                      .arg(name, Profile::shortText(parser.value(name))));
            (name == QLatin1String("since") ? period.since : period.until) = *time;
        }
        return writeReport(arguments.first(), options, parser.value(QStringLiteral("output")));
    }

    if (arguments.size() != (writes ? 1 : 0))
        return usageError(writes ? QStringLiteral("%1 takes one PROFILE").arg(verb)
                                 : QStringLiteral("%1 takes no arguments").arg(verb));

    PortChoice choice;
    if (verb == kRead || verb == kWrite) {
        choice = {parser.values(QStringLiteral("port")), parser.isSet(QStringLiteral("all"))};
        if (!choice.names.isEmpty() && choice.all)
            return usageError(QStringLiteral("--port and --all exclude each other"));
    }

    QString error;
    const std::optional<int> replyTimeout
        = Choices::replyTimeout(given(parser, QStringLiteral("reply-timeout")), &error);
    if (!replyTimeout)
        return usageError(error);
    WriteOptions options;
    if (writes) {
        const std::optional<WriteOptions> checked = writeOptions(parser, arguments.first(), &error);
        if (!checked)
            return usageError(error);
        options = *checked;
    }
    Commands commands(json, *replyTimeout);
    watchTerminationSignals(&commands,
                            [&commands](TerminationRequest request) { commands.stop(request); });
    QTimer::singleShot(0, &commands, [&] {
        if (verb == kList)
            commands.list();
        else if (verb == kRead)
            commands.read(choice);
        else if (verb == kWrite)
            commands.write(options, choice);
        else
            commands.provision(options, parser.values(QStringLiteral("port")));
    });
    return QCoreApplication::exec();
}
