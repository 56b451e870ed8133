#include "device/configcommand.h"
#include "device/configreply.h"
#include "device/loggerprotocol.h"
#include "device/replyassembler.h"

#include <QTest>
#include <QTimeZone>

Q_DECLARE_METATYPE(LoggerConfig)

namespace {

LoggerConfig initialForm()
{
    LoggerConfig fields;
    fields.alarmUpper = QStringLiteral("60");
    fields.alarmLower = QStringLiteral("5");
    fields.startHours = QStringLiteral("00");
    fields.startMinutes = QStringLiteral("30");
    fields.logHours = QStringLiteral("00");
    fields.logMinutes = QStringLiteral("10");
    fields.zone = QStringLiteral("UTC+05:30");
    return fields;
}

// A moment given as the wall-clock time of UTC+05:30.
QDateTime indiaTime(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone("UTC+05:30"));
}

} // namespace

class ProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void configurationCommand_data();
    void configurationCommand();
    void alarmLimitEncoding_data();
    void alarmLimitEncoding();
    void clockFollowsTheChosenZone();
    void shortZoneTextKeepsThirtySevenBytes();
    void unusableLimitsAreRefused_data();
    void unusableLimitsAreRefused();
    void replyDecodesEveryField();
    void replyWithBadFields();
    void shortReplyIsNotDecoded();
    void replyAssembledAcrossDeliveries_data();
    void replyAssembledAcrossDeliveries();
    void bytesAfterACompleteReplyAreIgnored();
    void deviceIdentifierEndsAtItsZeroByte();
};

void ProtocolTest::configurationCommand_data()
{
    QTest::addColumn<LoggerConfig>("fields");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("initial form") << initialForm() << indiaTime(2026, 12, 5, 14, 25, 7)
                                  << QByteArray("10006000500300010114250705122026+0530");

    LoggerConfig edited = initialForm();
    edited.fahrenheit = true;
    edited.alarmEnabled = true;
    edited.alarmUpper = QStringLiteral("85");
    edited.alarmLower = QStringLiteral("-5");
    edited.startHours = QStringLiteral("02");
    edited.startMinutes = QStringLiteral("15");
    edited.logHours = QStringLiteral("01");
    edited.logMinutes = QStringLiteral("30");
    QTest::newRow("edited form") << edited << indiaTime(2027, 1, 1, 9, 5, 0)
                                 << QByteArray("111085-0502150130109050001012027+0530");

    LoggerConfig csv = initialForm();
    csv.pdf = false;
    csv.zone = QStringLiteral("UTC-03:30");
    QTest::newRow("csv, western zone")
        << csv << QDateTime(QDate(2026, 12, 5), QTime(12, 0, 0), Qt::UTC)
        << QByteArray("10006000500300010008300005122026-0330");
}

void ProtocolTest::configurationCommand()
{
    QFETCH(LoggerConfig, fields);
    QFETCH(QDateTime, now);
    QFETCH(QByteArray, expected);
    const QByteArray command = ::configurationCommand(fields, now);
    QCOMPARE(command, expected);
    QCOMPARE(command.size(), LoggerProtocol::kConfigLength);
}

void ProtocolTest::alarmLimitEncoding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("0") << "0" << QByteArray("000");
    QTest::newRow("8") << "8" << QByteArray("008");
    QTest::newRow("05") << "05" << QByteArray("005");
    QTest::newRow("60") << "60" << QByteArray("060");
    QTest::newRow("85") << "85" << QByteArray("085");
    QTest::newRow("-5") << "-5" << QByteArray("-05");
    QTest::newRow("-12") << "-12" << QByteArray("-12");
    QTest::newRow("-40") << "-40" << QByteArray("-40");
    QTest::newRow("empty") << "" << QByteArray("000");
    QTest::newRow("lone minus") << "-" << QByteArray("000");
    QTest::newRow("letters") << "abc" << QByteArray("000");
    QTest::newRow("too large") << "12345" << QByteArray("999");
    QTest::newRow("too small") << "-450" << QByteArray("-99");
}

void ProtocolTest::alarmLimitEncoding()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(encodeAlarmLimit(text), bytes);
}

void ProtocolTest::clockFollowsTheChosenZone()
{
    const QDateTime utc(QDate(2026, 12, 5), QTime(8, 55, 7), Qt::UTC);
    QVERIFY(encodeDeviceClock(utc, QStringLiteral("UTC+05:30")).startsWith("142507"));
    QCOMPARE(encodeDeviceClock(utc, QStringLiteral("UTC-14:00")), QByteArray("18550704122026"));
    // An unknown zone still yields fourteen digits (the computer's own time).
    QCOMPARE(encodeDeviceClock(utc, QStringLiteral("Nowhere/Else")).size(), 14);
}

void ProtocolTest::shortZoneTextKeepsThirtySevenBytes()
{
    QCOMPARE(encodeZoneOffset(QStringLiteral("UTC+05:30")), QByteArray("+0530"));
    QCOMPARE(encodeZoneOffset(QStringLiteral("UTC+05")), QByteArray("+05\0\0", 5));
    QCOMPARE(encodeZoneOffset(QString()), QByteArray(5, '\0'));

    LoggerConfig fields = initialForm();
    fields.zone = QStringLiteral("UTC");
    const QByteArray command = ::configurationCommand(fields, QDateTime::currentDateTime());
    QCOMPARE(command.size(), LoggerProtocol::kConfigLength);
    QCOMPARE(command.right(5), QByteArray(5, '\0'));
}

void ProtocolTest::unusableLimitsAreRefused_data()
{
    QTest::addColumn<bool>("alarmOn");
    QTest::addColumn<QString>("lower");
    QTest::addColumn<QString>("upper");
    QTest::addColumn<bool>("usable");
    QTest::newRow("defaults") << false << "5"
                              << "60" << true;
    QTest::newRow("range ends") << true << "-40"
                                << "85" << true;
    QTest::newRow("leading zero") << true << "05"
                                  << "60" << true;
    QTest::newRow("equal limits") << true << "20"
                                  << "20" << true;
    QTest::newRow("empty lower") << false << ""
                                 << "60" << false;
    QTest::newRow("lone minus") << false << "5"
                                << "-" << false;
    QTest::newRow("not a number") << false << "abc"
                                  << "60" << false;
    QTest::newRow("above range") << false << "5"
                                 << "999" << false;
    QTest::newRow("below range") << false << "-41"
                                 << "60" << false;
    QTest::newRow("plus sign") << false << "+5"
                               << "60" << false;
    QTest::newRow("crossed, alarm on") << true << "60"
                                       << "5" << false;
    QTest::newRow("crossed, alarm off") << false << "60"
                                        << "5" << true;
}

void ProtocolTest::unusableLimitsAreRefused()
{
    QFETCH(bool, alarmOn);
    QFETCH(QString, lower);
    QFETCH(QString, upper);
    QFETCH(bool, usable);
    LoggerConfig fields = initialForm();
    fields.alarmEnabled = alarmOn;
    fields.alarmLower = lower;
    fields.alarmUpper = upper;
    QCOMPARE(alarmLimitsUsable(fields), usable);
    const QByteArray command = ::configurationCommand(fields, QDateTime::currentDateTime());
    QCOMPARE(command.size(), usable ? LoggerProtocol::kConfigLength : 0);
}

void ProtocolTest::replyDecodesEveryField()
{
    const auto config = decodeConfigurationReply("011085-1002150130109050001012027+0530");
    QVERIFY(config);
    QCOMPARE(config->config.fahrenheit, std::optional<bool>(true));
    QCOMPARE(config->config.alarmEnabled, std::optional<bool>(true));
    QCOMPARE(config->config.pdf, std::optional<bool>(true));
    QCOMPARE(config->config.alarmUpper, QStringLiteral("85"));
    QCOMPARE(config->config.alarmLower, QStringLiteral("-10"));
    QCOMPARE(config->config.startHours, QStringLiteral("02"));
    QCOMPARE(config->config.startMinutes, QStringLiteral("15"));
    QCOMPARE(config->config.logHours, QStringLiteral("01"));
    QCOMPARE(config->config.logMinutes, QStringLiteral("30"));
    QCOMPARE(deviceTimeText(config->clock), QStringLiteral("2027-01-01 09:05:00"));
    QCOMPARE(config->config.zone, QStringLiteral("UTC+05:30"));
}

void ProtocolTest::replyWithBadFields()
{
    // Scale "x", alarm "7", limits "abc"/"-05", file type "9", clock and zone garbage.
    const auto config = decodeConfigurationReply("0x7abc-0502150100999999999999999999XYZ");
    QVERIFY(config);
    QVERIFY(!config->config.fahrenheit);
    QVERIFY(!config->config.alarmEnabled);
    QVERIFY(!config->config.pdf);
    QCOMPARE(config->config.alarmUpper, QStringLiteral("0"));
    QCOMPARE(config->config.alarmLower, QStringLiteral("-5"));
    QCOMPARE(config->config.logMinutes, QStringLiteral("00"));
    QCOMPARE(deviceTimeText(config->clock), QStringLiteral("9999-99-99 99:99:99"));
    QCOMPARE(config->config.zone, QStringLiteral("UTC999:XY"));

    // Zero bytes are characters like any other: the fields keep their width.
    const auto zeros
        = decodeConfigurationReply(QByteArray("0110850050215013010905000101\0\0\0\0+0530", 37));
    QVERIFY(zeros);
    QCOMPARE(deviceTimeText(zeros->clock).size(), 19);
    QCOMPARE(deviceTimeText(zeros->clock).left(4), QString(4, QChar::ReplacementCharacter));
}

void ProtocolTest::shortReplyIsNotDecoded()
{
    QVERIFY(!decodeConfigurationReply("0000600050030001011425070512202"));
    QVERIFY(!decodeConfigurationReply(QByteArray()));
}

void ProtocolTest::replyAssembledAcrossDeliveries_data()
{
    QTest::addColumn<char>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("assembled");
    QTest::newRow("identification") << LoggerProtocol::kIdentificationRequest
                                    << QByteArray("57402104") << QByteArray("57402104");
    QTest::newRow("identifier") << LoggerProtocol::kDeviceIdRequest << QByteArray("TL-0001\0", 8)
                                << QByteArray("TL-0001");
    QTest::newRow("configuration")
        << LoggerProtocol::kConfigReadRequest << QByteArray("00006000500300010114250705122026+0530")
        << QByteArray("00006000500300010114250705122026+0530");
}

void ProtocolTest::replyAssembledAcrossDeliveries()
{
    QFETCH(char, command);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, assembled);

    // Every split point, and every split into single bytes.
    for (int split = 1; split < reply.size(); ++split) {
        ReplyAssembler assembler;
        assembler.begin(command);
        QVERIFY(assembler.feed(reply.left(split)));
        QVERIFY2(!assembler.isComplete(), qPrintable(QString::number(split)));
        QVERIFY(assembler.feed(reply.mid(split)));
        QVERIFY2(assembler.isComplete(), qPrintable(QString::number(split)));
        QCOMPARE(assembler.bytes(), assembled);
    }
    ReplyAssembler bytewise;
    bytewise.begin(command);
    for (char byte : reply)
        bytewise.feed(QByteArray(1, byte));
    QVERIFY(bytewise.isComplete());
    QCOMPARE(bytewise.bytes(), assembled);
}

void ProtocolTest::bytesAfterACompleteReplyAreIgnored()
{
    ReplyAssembler assembler;
    assembler.begin(LoggerProtocol::kIdentificationRequest);
    QVERIFY(assembler.feed("5740210499"));
    QCOMPARE(assembler.bytes(), QByteArray("57402104"));
    QVERIFY(!assembler.feed("more"));
    QCOMPARE(assembler.bytes(), QByteArray("57402104"));

    // A new command starts a new reply.
    assembler.begin(LoggerProtocol::kConfigReadRequest);
    QVERIFY(!assembler.isComplete());
    QVERIFY(assembler.bytes().isEmpty());

    // The configuration command expects nothing.
    assembler.begin(LoggerProtocol::kConfigCommand);
    QVERIFY(!assembler.feed("0123"));
    QVERIFY(assembler.bytes().isEmpty());
}

void ProtocolTest::deviceIdentifierEndsAtItsZeroByte()
{
    ReplyAssembler assembler;
    assembler.begin(LoggerProtocol::kDeviceIdRequest);
    QVERIFY(assembler.feed(QByteArray("AB\0CD", 5)));
    QVERIFY(assembler.isComplete());
    QCOMPARE(assembler.bytes(), QByteArray("AB"));

    assembler.begin(LoggerProtocol::kDeviceIdRequest);
    QVERIFY(assembler.feed(QByteArray("\0", 1)));
    QVERIFY(assembler.isComplete());
    QVERIFY(assembler.bytes().isEmpty());
}

QTEST_GUILESS_MAIN(ProtocolTest)
#include "tst_protocol.moc"
