// tempyra-station: the provisioning station for the packing bench, in a window.

#include "stationwindow/onestation.h"
#include "stationwindow/stationwindow.h"

#include "app/display.h"
#include "app/terminationsignals.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>

namespace {

constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

void printError(const QString &message)
{
    std::fprintf(stderr, "tempyra-station: %s\n", qUtf8Printable(message));
}

std::optional<QString> given(const QCommandLineParser &parser, const QString &name)
{
    return parser.isSet(name) ? std::optional<QString>(parser.value(name)) : std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    prepareDisplay();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tempyra-station"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tempyra Station"));
    QApplication::setApplicationVersion(QStringLiteral(TEMPYRA_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/station/station.ico")));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The provisioning station in a window: every logger plugged in is identified, written "
        "with the profile, read back and recorded in the signed audit record of tempyra-cli. "
        "With --profile the run starts at once, with the choices given (as tempyra-cli "
        "provision takes them); exit status 2 when one is refused."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions(
        {{QStringLiteral("profile"), QStringLiteral("The profile to write; starts the run."),
          QStringLiteral("FILE")},
         {QStringLiteral("expect"),
          QStringLiteral("The shipment's list of device identifiers, one a line (none: every "
                         "logger plugged in is written)."),
          QStringLiteral("LIST")},
         {QStringLiteral("operator"), QStringLiteral("The person recorded with each write."),
          QStringLiteral("NAME")},
         {QStringLiteral("log"), QStringLiteral("The audit record."), QStringLiteral("RECORD")},
         {QStringLiteral("key"), QStringLiteral("The station key that signs the audit lines."),
          QStringLiteral("FILE")},
         {QStringLiteral("retries"),
          QStringLiteral("Further attempts after a failed or mismatched one (default 1)."),
          QStringLiteral("N")},
         {QStringLiteral("settle"),
          QStringLiteral("Pause between the write and the read-back (default 0)."),
          QStringLiteral("MS")},
         {QStringLiteral("reply-timeout"),
          QStringLiteral("How long a logger is given to answer (default 250)."),
          QStringLiteral("MS")},
         {QStringLiteral("sign-as"),
          QStringLiteral("The operator's own key: they are signed in and out of the run."),
          QStringLiteral("KEY")},
         {QStringLiteral("passphrase-file"),
          QStringLiteral("The passphrase of --sign-as, the file's first line (else it is asked "
                         "in the window)."),
          QStringLiteral("FILE")},
         {QStringLiteral("trust"),
          QStringLiteral("The team file: only profiles its approvers approved are written."),
          QStringLiteral("TEAM")}});
    parser.process(app);

    // Two stations on one computer would take the same loggers' ports by turns.
    OneStation one;
    QString holder;
    if (!one.claim(&holder)) {
        const QString message
            = QStringLiteral("a station is running on this computer already (%1); two would "
                             "fight over the loggers' ports")
                  .arg(holder);
        printError(message);
        QMessageBox::critical(nullptr, QStringLiteral("Tempyra Station"),
                              QStringLiteral("A station is running on this computer already "
                                             "(%1).\n\nTwo would fight over the loggers' ports.")
                                  .arg(holder));
        return kExitRefused;
    }

    StationWindow window;
    watchTerminationSignals(&window, [&window](TerminationRequest) { window.close(); });
    bool refused = false;
    QObject::connect(&window, &StationWindow::runFinished, &window,
                     [&refused] { refused = false; });
    if (parser.isSet(QStringLiteral("profile"))) {
        Choices::Given choices;
        choices.profile = parser.value(QStringLiteral("profile"));
        choices.expect = parser.value(QStringLiteral("expect"));
        choices.operatorName = given(parser, QStringLiteral("operator"));
        choices.log = given(parser, QStringLiteral("log"));
        choices.key = parser.value(QStringLiteral("key"));
        choices.retries = given(parser, QStringLiteral("retries"));
        choices.settle = given(parser, QStringLiteral("settle"));
        choices.replyTimeout = given(parser, QStringLiteral("reply-timeout"));
        QString error;
        std::optional<SecretBytes> passphrase;
        if (parser.isSet(QStringLiteral("passphrase-file"))
            && !(passphrase
                 = Passphrase::fromFile(parser.value(QStringLiteral("passphrase-file")), &error))) {
            printError(error);
            return kExitUsage;
        }
        if (!window.startWith(choices, &error, parser.value(QStringLiteral("sign-as")),
                              std::move(passphrase), parser.value(QStringLiteral("trust")))) {
            printError(error);
            refused = true;
        }
    } else {
        for (const QString &option : parser.optionNames()) {
            printError(
                QStringLiteral("--%1 goes with --profile, which starts the run").arg(option));
            return kExitUsage;
        }
    }
    window.showMaximized();
    const int status = QApplication::exec();
    return refused ? kExitUsage : status;
}
