#include "clock/alarmlimits.h"
#include "clock/timezones.h"

#include <QRegExpValidator>
#include <QSet>
#include <QTest>
#include <QTimeZone>

class ClockRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void offeredZonesKeepTheLastThirtyEightOfTheOffsetForm();
    void platformZonesIncludeTheDefault();
    void wallClockInTheChosenZone();
    void patternAcceptsExactlyTheWholeNumbersOfTheRange();
    void validatorStates_data();
    void validatorStates();
};

void ClockRulesTest::offeredZonesKeepTheLastThirtyEightOfTheOffsetForm()
{
    QByteArrayList platform {"Europe/Berlin", "UTC"};
    for (int hour = 0; hour <= 40; ++hour)
        platform.append(QStringLiteral("UTC+%1:00").arg(hour, 2, 10, QLatin1Char('0')).toLatin1());
    platform.append("Zulu");
    platform.append("UTC+5:30");

    const QByteArrayList zones = TimeZones::offeredZones(platform);
    QCOMPARE(zones.size(), TimeZones::kListLength);
    QCOMPARE(zones.first(), QByteArray("UTC+03:00"));
    QCOMPARE(zones.last(), QByteArray("UTC+40:00"));
}

void ClockRulesTest::platformZonesIncludeTheDefault()
{
    const QByteArrayList zones = TimeZones::offeredZones(QTimeZone::availableTimeZoneIds());
    QCOMPARE(zones.size(), TimeZones::kListLength);
    QVERIFY(zones.contains(TimeZones::kDefaultZone));
    for (const QByteArray &zone : zones) {
        QCOMPARE(zone.size(), 9);
        QVERIFY2(QTimeZone(zone).isValid(), zone.constData());
    }
}

void ClockRulesTest::wallClockInTheChosenZone()
{
    const QDateTime utc(QDate(2026, 12, 31), QTime(20, 0, 0), Qt::UTC);
    QCOMPARE(TimeZones::wallClock(utc, QStringLiteral("UTC+05:30")),
             QStringLiteral("2027-01-01 01:30:00"));
    QCOMPARE(TimeZones::wallClock(utc, QStringLiteral("UTC-10:00")),
             QStringLiteral("2026-12-31 10:00:00"));
    QVERIFY(TimeZones::wallClock(utc, QString()).isEmpty());
    QVERIFY(TimeZones::wallClock(utc, QStringLiteral("Nowhere/Else")).isEmpty());
}

void ClockRulesTest::patternAcceptsExactlyTheWholeNumbersOfTheRange()
{
    // Every text of up to three characters from the keys an operator might press.
    const QString keys = QStringLiteral("-+0123456789 ");
    QStringList texts {QString()};
    for (int length = 0; length < 3; ++length) {
        const QStringList shorter = texts;
        for (const QString &text : shorter)
            for (QChar key : keys)
                if (text.size() == length)
                    texts.append(text + key);
    }

    QSet<QString> accepted;
    const QRegExp pattern = AlarmLimits::pattern();
    for (const QString &text : texts)
        if (pattern.exactMatch(text))
            accepted.insert(text);

    QSet<QString> expected;
    for (int value = AlarmLimits::kLowest; value <= AlarmLimits::kHighest; ++value)
        expected.insert(QString::number(value));
    for (int value = 0; value <= 9; ++value)
        expected.insert(QStringLiteral("0") + QString::number(value));
    QCOMPARE(expected.size(), 136);
    QCOMPARE(accepted, expected);

    // What the pattern accepts, the write accepts too.
    for (const QString &text : accepted)
        QVERIFY2(AlarmLimits::parse(text).has_value(), qPrintable(text));
}

void ClockRulesTest::validatorStates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("state");
    QTest::newRow("empty") << "" << int(QValidator::Intermediate);
    QTest::newRow("minus") << "-" << int(QValidator::Intermediate);
    QTest::newRow("-4") << "-4" << int(QValidator::Acceptable);
    QTest::newRow("-41") << "-41" << int(QValidator::Invalid);
    QTest::newRow("86") << "86" << int(QValidator::Invalid);
    QTest::newRow("-0") << "-0" << int(QValidator::Invalid);
    QTest::newRow("-05") << "-05" << int(QValidator::Invalid);
    QTest::newRow("+5") << "+5" << int(QValidator::Invalid);
    QTest::newRow("085") << "085" << int(QValidator::Invalid);
    QTest::newRow("space") << "5 " << int(QValidator::Invalid);
}

void ClockRulesTest::validatorStates()
{
    QFETCH(QString, text);
    QFETCH(int, state);
    QRegExpValidator validator(AlarmLimits::pattern());
    int position = text.size();
    QCOMPARE(int(validator.validate(text, position)), state);
}

QTEST_GUILESS_MAIN(ClockRulesTest)
#include "tst_clockrules.moc"
