// tempyra-logger-sim: a temperature logger behind a pseudo-terminal, for development and demos.
// Prints "pty: <slave path>", then one line per command received from the host.
// SIGUSR1 unplugs it and SIGUSR2 plugs it in again on a new line, which is announced with
// another "pty:" line; the virtual USB bench uses them.

#include "loggerconfig.h"
#include "loggersimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QSocketNotifier>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// The output is read through pipes: every line goes out at once.
void printLine(const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int intValue(const QCommandLineParser &parser, const QString &name, bool &ok)
{
    bool valid = false;
    const int value = parser.value(name).toInt(&valid);
    if (!valid || value < 0) {
        std::fprintf(stderr, "--%s expects a non-negative whole number\n", qPrintable(name));
        ok = false;
    }
    return value;
}

// The byte of a named C escape: "\r" for 'r'; 0 for none.
char namedEscape(char c)
{
    switch (c) {
    case 'r':
        return '\r';
    case 'n':
        return '\n';
    case 't':
        return '\t';
    case '\\':
        return '\\';
    default:
        return 0;
    }
}

// An identifier as given on the command line, with C escapes (\r, \n, \t, \\, \xHH) for the
// bytes a shell argument carries badly: a logger whose identifier holds a carriage return.
QByteArray escapedBytes(const QString &text)
{
    const QByteArray given = text.toUtf8();
    QByteArray bytes;
    for (int i = 0; i < given.size(); ++i) {
        const char next = i + 1 < given.size() ? given[i + 1] : '\0';
        const QByteArray hex = given.mid(i + 2, 2);
        if (given[i] == '\\' && namedEscape(next)) {
            bytes.append(namedEscape(next));
            i += 1;
        } else if (given[i] == '\\' && next == 'x' && hex.size() == 2 && std::isxdigit(hex[0])
                   && std::isxdigit(hex[1])) {
            bytes.append(char(hex.toInt(nullptr, 16)));
            i += 3;
        } else {
            bytes.append(given[i]);
        }
    }
    return bytes;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tempyra-logger-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated temperature logger on a pseudo-terminal. Prints \"pty: <path>\", then "
        "one line per command received. Press Enter to unplug."));
    parser.addHelpOption();
    const auto option = [&parser](const char *name, const char *help, const char *valueName) {
        parser.addOption({QLatin1String(name), QLatin1String(help), QLatin1String(valueName)});
    };
    const auto flag = [&parser](const char *name, const char *help) {
        parser.addOption({QLatin1String(name), QLatin1String(help)});
    };
    option("device-id",
           "Identifier answered to the device-ID request (default TL-0001); \\r, \\n, \\t, "
           "\\\\ and \\xHH stand for their bytes.",
           "text");
    option("replug-as",
           "Plugged in again, be another logger: answer this identifier (escapes as in "
           "--device-id).",
           "text");
    option("latency", "Wait this long before every reply.", "ms");
    option("slow-replies",
           "Wait this long (on top of --latency) before answering the device-ID "
           "and configuration requests.",
           "ms");
    option("split", "Send every reply in two writes, this far apart.", "ms");
    option("repeat", "Send every reply again, in a second write this long after the first.", "ms");
    flag("wrong-id", "Answer the identification request with a wrong code.");
    flag("silent", "Answer nothing at all.");
    option("deaf-for",
           "Answer none of the first n requests (a port that takes its first bytes "
           "late).",
           "n");
    option("trailing", "Append this many extra bytes to every reply.", "n");
    flag("bad-fields", "Put undecodable values into the configuration reply.");
    option("truncate", "Cut the configuration reply to this many bytes (e.g. 20).", "n");
    option("flood", "Send an unsolicited burst of bytes this often.", "ms");
    option("flood-bytes", "Bytes per flood burst (default 16).", "n");
    option("unplug-after", "Unplug this many seconds after start.", "seconds");
    option("link", "Create a symlink at this path to the pty (removed at exit).", "path");
    flag("ignore-writes", "Keep the settings when a configuration command comes.");
    option("corrupt-field",
           "Store every configuration command with this field changed: scale, alarm, upper, "
           "lower, delay, interval, file, clock or zone.",
           "field");
    option("faulty-writes",
           "Only the first n configuration commands are ignored or changed (with "
           "--ignore-writes or --corrupt-field); the later ones are stored as they come.",
           "n");
    option("store-delay", "Store a configuration command this long after it arrives.", "ms");
    parser.process(app);

    LoggerSimulatorOptions options;
    bool ok = true;
    if (parser.isSet(QStringLiteral("device-id")))
        options.deviceId = escapedBytes(parser.value(QStringLiteral("device-id")));
    options.replugAs = escapedBytes(parser.value(QStringLiteral("replug-as")));
    if (parser.isSet(QStringLiteral("latency")))
        options.latencyMs = intValue(parser, QStringLiteral("latency"), ok);
    if (parser.isSet(QStringLiteral("slow-replies")))
        options.slowRepliesMs = intValue(parser, QStringLiteral("slow-replies"), ok);
    if (parser.isSet(QStringLiteral("split")))
        options.splitPauseMs = intValue(parser, QStringLiteral("split"), ok);
    if (parser.isSet(QStringLiteral("repeat")))
        options.repeatAfterMs = intValue(parser, QStringLiteral("repeat"), ok);
    if (parser.isSet(QStringLiteral("wrong-id"))) {
        // Eight digits still, each one off by one.
        for (char &c : options.identificationCode)
            c = static_cast<char>('0' + (c - '0' + 1) % 10);
    }
    options.silent = parser.isSet(QStringLiteral("silent"));
    if (parser.isSet(QStringLiteral("deaf-for")))
        options.deafFor = intValue(parser, QStringLiteral("deaf-for"), ok);
    if (parser.isSet(QStringLiteral("trailing")))
        options.trailingBytes = intValue(parser, QStringLiteral("trailing"), ok);
    options.badFields = parser.isSet(QStringLiteral("bad-fields"));
    if (parser.isSet(QStringLiteral("truncate")))
        options.truncateConfigReply = intValue(parser, QStringLiteral("truncate"), ok);
    if (parser.isSet(QStringLiteral("flood")))
        options.floodIntervalMs = intValue(parser, QStringLiteral("flood"), ok);
    if (parser.isSet(QStringLiteral("flood-bytes")))
        options.floodBurstBytes = intValue(parser, QStringLiteral("flood-bytes"), ok);
    if (parser.isSet(QStringLiteral("unplug-after"))) {
        bool valid = false;
        const double seconds = parser.value(QStringLiteral("unplug-after")).toDouble(&valid);
        if (!valid || seconds <= 0) {
            std::fprintf(stderr, "--unplug-after expects a positive number of seconds\n");
            ok = false;
        }
        options.unplugAfterMs = qMax(1, qRound(seconds * 1000));
    }
    options.ignoreWrites = parser.isSet(QStringLiteral("ignore-writes"));
    if (parser.isSet(QStringLiteral("faulty-writes")))
        options.faultyWrites = intValue(parser, QStringLiteral("faulty-writes"), ok);
    if (parser.isSet(QStringLiteral("store-delay")))
        options.storeDelayMs = intValue(parser, QStringLiteral("store-delay"), ok);
    if (parser.isSet(QStringLiteral("corrupt-field"))) {
        using namespace LoggerSimConfig;
        const QHash<QString, Field> fields {{QStringLiteral("scale"), kScale},
                                            {QStringLiteral("alarm"), kAlarm},
                                            {QStringLiteral("upper"), kUpper},
                                            {QStringLiteral("lower"), kLower},
                                            {QStringLiteral("delay"), kDelayMinutes},
                                            {QStringLiteral("interval"), kIntervalMinutes},
                                            {QStringLiteral("file"), kFileType},
                                            {QStringLiteral("clock"), kClock},
                                            {QStringLiteral("zone"), kZone}};
        const auto field = fields.constFind(parser.value(QStringLiteral("corrupt-field")));
        if (field == fields.cend()) {
            std::fprintf(stderr, "--corrupt-field expects one of the fields its help names\n");
            ok = false;
        } else {
            // The field's last byte is a digit in every field.
            options.corruptByte = field->offset + field->length - 1;
        }
    }
    if (!ok)
        return 2;

    LoggerSimulator simulator(options);
    if (!simulator.start()) {
        std::fprintf(stderr, "cannot open a pseudo-terminal: %s\n",
                     qPrintable(simulator.errorString()));
        return 1;
    }

    const QString link = parser.value(QStringLiteral("link"));
    const auto announceLine = [&simulator, &link] {
        if (!link.isEmpty()) {
            QFile::remove(link);
            if (!QFile::link(simulator.slavePath(), link)) {
                std::fprintf(stderr, "cannot create the link %s\n", qPrintable(link));
                return false;
            }
        }
        printLine(QStringLiteral("pty: ") + simulator.slavePath());
        return true;
    };
    if (!announceLine())
        return 1;

    QObject::connect(
        &simulator, &LoggerSimulator::commandReceived, &app,
        [](const QByteArray &, const QString &description) { printLine(description); });
    // Unplugged by SIGUSR1, the simulator waits to be plugged in again; otherwise it ends.
    bool replugExpected = false;
    QObject::connect(&simulator, &LoggerSimulator::unplugged, &app, [&replugExpected] {
        printLine(QStringLiteral("unplugged"));
        if (!replugExpected)
            QCoreApplication::exit(0);
    });

    // Enter unplugs. At end of input (stdin from /dev/null or a closed pipe) stop watching.
    QSocketNotifier stdinNotifier(STDIN_FILENO, QSocketNotifier::Read);
    stdinNotifier.setEnabled(::fcntl(STDIN_FILENO, F_GETFD) != -1);
    QObject::connect(&stdinNotifier, &QSocketNotifier::activated, &simulator, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0)
            stdinNotifier.setEnabled(false);
        else if (std::memchr(buffer, '\n', static_cast<size_t>(n))) {
            replugExpected = false;
            simulator.unplug();
        }
    });

    // SIGINT and SIGTERM end the event loop normally, so the link is removed.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        for (const int number : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2})
            std::signal(number, onSignal);
    }
    // A reader that goes away must not kill us before the link is removed.
    std::signal(SIGPIPE, SIG_IGN);
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
        char number = 0;
        if (::read(signalPipe[0], &number, 1) != 1)
            return;
        if (number == SIGUSR1) {
            replugExpected = true;
            simulator.unplug();
        } else if (number == SIGUSR2) {
            if (!simulator.isRunning() && !(simulator.replug() && announceLine()))
                QCoreApplication::exit(1);
        } else {
            QCoreApplication::exit(0);
        }
    });

    const int status = app.exec();
    if (!link.isEmpty())
        QFile::remove(link);
    return status;
}
