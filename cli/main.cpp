// tempyra-cli: lists, reads, writes and provisions Tempyra loggers from the command line.

#include "audit.h"
#include "commands.h"
#include "profile.h"

#include "app/terminationsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

namespace {

const QString kList = QStringLiteral("list");
const QString kRead = QStringLiteral("read");
const QString kWrite = QStringLiteral("write");
const QString kProvision = QStringLiteral("provision");

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
                              "within 2 s. Each write is appended to the audit record.");
    return QStringLiteral("A provisioning station: every logger plugged in is identified, "
                          "written and verified once, and recorded. Runs until Ctrl-C, which "
                          "lets the writes in progress finish.");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tempyra-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TEMPYRA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Configures Tempyra temperature loggers. Exit status: 0 every logger "
                       "done (and verified), 1 a logger failed, 2 a usage or profile error.\n"
                       "Profile keys: ")
        + Profile::keys().join(QLatin1String(", ")));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("list, read, write or provision; "
                                                "\"tempyra-cli COMMAND --help\" tells more."),
                                 QStringLiteral("command"));
    // The first pass only finds the command; its options are known once it is.
    parser.parse(QCoreApplication::arguments());
    const QString verb = parser.positionalArguments().value(0);
    if (!QStringList {kList, kRead, kWrite, kProvision}.contains(verb)) {
        if (parser.isSet(QStringLiteral("version")))
            return printVersion();
        if (parser.isSet(QStringLiteral("help")))
            return printHelp(parser);
        return usageError(verb.isEmpty() ? QStringLiteral("no command given (see --help)")
                                         : QStringLiteral("unknown command ") + verb);
    }

    parser.clearPositionalArguments();
    parser.setApplicationDescription(verbDescription(verb));
    const bool withProfile = verb == kWrite || verb == kProvision;
    parser.addPositionalArgument(verb, QStringLiteral("The command."), verb);
    if (withProfile) {
        parser.addPositionalArgument(QStringLiteral("PROFILE"),
                                     QStringLiteral("JSON profile; keys ")
                                         + Profile::keys().join(QLatin1String(", ")));
        parser.addOption({QStringLiteral("set"),
                          QStringLiteral("Overrides one key of the profile, e.g. interval=00:15 "
                                         "or alarm.lower=2 (repeatable)."),
                          QStringLiteral("KEY=VALUE")});
        parser.addOption({QStringLiteral("log"),
                          QStringLiteral("Audit record file (default ") + Audit::defaultPath()
                              + QStringLiteral(")."),
                          QStringLiteral("FILE")});
    }
    if (verb != kList)
        parser.addOption({QStringLiteral("port"),
                          QStringLiteral("The logger on this port (name or location), even one "
                                         "the system lists without the logger's USB identifiers "
                                         "or does not list at all."),
                          QStringLiteral("NAME")});
    if (verb == kRead || verb == kWrite) {
        parser.addOption({QStringLiteral("all"),
                          QStringLiteral("Every logger plugged in, all at the same time.")});
    }
    if (verb == kWrite)
        parser.addOption(
            {QStringLiteral("no-verify"), QStringLiteral("Do not read the configuration back.")});
    if (verb != kProvision)
        parser.addOption({QStringLiteral("json"), QStringLiteral("Results as JSON.")});

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        return printHelp(parser);
    const QStringList arguments = parser.positionalArguments().mid(1);
    if (arguments.size() != (withProfile ? 1 : 0))
        return usageError(withProfile ? QStringLiteral("%1 takes one PROFILE").arg(verb)
                                      : QStringLiteral("%1 takes no arguments").arg(verb));

    PortChoice choice;
    if (verb == kRead || verb == kWrite) {
        choice = {parser.value(QStringLiteral("port")), parser.isSet(QStringLiteral("all"))};
        if (!choice.name.isEmpty() && choice.all)
            return usageError(QStringLiteral("--port and --all exclude each other"));
    }

    LoggerConfig config;
    QString auditPath;
    if (withProfile) {
        auditPath = parser.value(QStringLiteral("log"));
        QString error;
        std::optional<QJsonObject> profile = Profile::load(arguments.first(), &error);
        for (const QString &setting : parser.values(QStringLiteral("set")))
            if (profile && !Profile::set(*profile, setting, &error))
                profile.reset();
        const std::optional<LoggerConfig> checked
            = profile ? Profile::toConfig(*profile, &error) : std::nullopt;
        if (!checked)
            return usageError(error);
        config = *checked;
        if (auditPath.isEmpty())
            auditPath = Audit::defaultPath();
        if (!Audit::usable(auditPath, &error))
            return usageError(error);
    }

    Commands commands(verb != kProvision && parser.isSet(QStringLiteral("json")));
    watchTerminationSignals(&commands, [&commands] { commands.stop(); });
    QTimer::singleShot(0, &commands, [&] {
        if (verb == kList)
            commands.list();
        else if (verb == kRead)
            commands.read(choice);
        else if (verb == kWrite)
            commands.write(config, choice, !parser.isSet(QStringLiteral("no-verify")), auditPath);
        else
            commands.provision(config, parser.value(QStringLiteral("port")), auditPath);
    });
    return QCoreApplication::exec();
}
