#include "commandparser.h"
#include "loggerconfig.h"

#include <QtTest>

namespace {

const QByteArray kExample1 = "10006000500300010114250705122026+0530";
const QByteArray kExample2 = "111085-0502150130109050001012027+0530";

// "I:3", "C:1000...", "U:AB": one text per command, so that lists compare readably.
QStringList summarize(const QVector<LoggerCommand> &commands)
{
    QStringList texts;
    for (const LoggerCommand &command : commands) {
        const char *kinds = "IDRCU";
        texts << QString(QLatin1Char(kinds[command.kind])) + QLatin1Char(':')
                + LoggerSimConfig::printable(command.bytes);
    }
    return texts;
}

} // namespace

class TestLoggerSimParser : public QObject
{
    Q_OBJECT

private slots:
    void configCommandSplitAnywhere_data();
    void configCommandSplitAnywhere();
    void stream_data();
    void stream();
    void describe_data();
    void describe();
};

void TestLoggerSimParser::configCommandSplitAnywhere_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("first example") << kExample1;
    QTest::newRow("second example") << kExample2;
    // Command codes and zero bytes inside a command are field content, not new commands.
    QTest::newRow("codes and zero bytes inside")
        << QByteArray("13210003000300010114250705122026+05\0\0", 37);
}

void TestLoggerSimParser::configCommandSplitAnywhere()
{
    QFETCH(QByteArray, command);
    for (int split = 1; split < command.size(); ++split) {
        LoggerCommandParser parser;
        QVERIFY(parser.feed(command.left(split)).isEmpty());
        QCOMPARE(parser.pendingBytes(), split);
        QCOMPARE(summarize(parser.feed(command.mid(split))),
                 QStringList {QStringLiteral("C:") + LoggerSimConfig::printable(command)});
        QCOMPARE(parser.pendingBytes(), 0);
    }
}

void TestLoggerSimParser::stream_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QStringList>("expected");

    const QString config1 = QStringLiteral("C:") + QLatin1String(kExample1);
    QTest::newRow("requests coalesced")
        << QList<QByteArray> {"3203"}
        << QStringList {QStringLiteral("I:3"), QStringLiteral("D:2"), QStringLiteral("R:0"),
                        QStringLiteral("I:3")};
    QTest::newRow("config between requests in one read")
        << QList<QByteArray> {"3" + kExample1 + "0"}
        << QStringList {QStringLiteral("I:3"), config1, QStringLiteral("R:0")};
    QTest::newRow("config tail coalesced with the next request")
        << QList<QByteArray> {"0" + kExample1.left(30), kExample1.mid(30) + "2"}
        << QStringList {QStringLiteral("R:0"), config1, QStringLiteral("D:2")};
    QTest::newRow("unknown bytes skipped as one run")
        << QList<QByteArray> {"AB\r\n3xyz"}
        << QStringList {QStringLiteral("U:AB\\x0d\\x0a"), QStringLiteral("I:3"),
                        QStringLiteral("U:xyz")};
    QTest::newRow("unknown run then a command in the next read")
        << QList<QByteArray> {"\xff", "0"}
        << QStringList {QStringLiteral("U:\\xff"), QStringLiteral("R:0")};
}

void TestLoggerSimParser::stream()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QStringList, expected);

    LoggerCommandParser parser;
    QVector<LoggerCommand> commands;
    for (const QByteArray &read : reads)
        commands += parser.feed(read);
    QCOMPARE(summarize(commands), expected);
    QCOMPARE(parser.pendingBytes(), 0);
}

void TestLoggerSimParser::describe_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("line");

    QTest::newRow("first example")
        << kExample1
        << QStringLiteral("cmd 1 config: scale=C alarm=off upper=060 lower=005 delay=00:30 "
                          "interval=00:10 file=PDF clock=14:25:07 05-12-2026 zone=+0530");
    QTest::newRow("second example")
        << kExample2
        << QStringLiteral("cmd 1 config: scale=F alarm=on upper=085 lower=-05 delay=02:15 "
                          "interval=01:30 file=PDF clock=09:05:00 01-01-2027 zone=+0530");
    QTest::newRow("undecodable values shown as received")
        << QByteArray("1x2abc-4x00770013000029023020260+05\0\0", 37)
        << QStringLiteral("cmd 1 config: scale=?x alarm=?2 upper=abc lower=-4x delay=00:77 "
                          "interval=00:13 file=CSV clock=?00029023020260 "
                          "zone=+05\\x00\\x00");
    QTest::newRow("request") << QByteArray("2") << QStringLiteral("cmd 2 device-id request");
    QTest::newRow("unknown") << QByteArray("\x07q")
                             << QStringLiteral("unknown: 2 byte(s) skipped: \\x07q");
}

void TestLoggerSimParser::describe()
{
    QFETCH(QByteArray, command);
    QFETCH(QString, line);

    LoggerCommandParser parser;
    const QVector<LoggerCommand> commands = parser.feed(command);
    QCOMPARE(commands.size(), 1);
    QCOMPARE(LoggerSimConfig::describe(commands.first()), line);
}

QTEST_GUILESS_MAIN(TestLoggerSimParser)
#include "tst_loggersim_parser.moc"
