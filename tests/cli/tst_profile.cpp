#include "station/profile.h"

#include <QJsonDocument>
#include <QTemporaryFile>
#include <QTest>

class ProfileTest : public QObject
{
    Q_OBJECT

private slots:
    void windowRules_data();
    void windowRules();
    void documents_data();
    void documents();
};

void ProfileTest::windowRules_data()
{
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QString>("refused"); // the key named in the refusal; empty when accepted

    const auto row = [](const char *name, const QStringList &settings, const char *refused) {
        QTest::newRow(name) << settings << QString::fromLatin1(refused);
    };
    row("window's start-up values", {}, "");
    row("interval 00:10", {"interval=00:10"}, "");
    row("interval 00:09", {"interval=00:09"}, "interval");
    row("interval 01:00, no minute 00", {"interval=01:00"}, "interval");
    row("interval 18:59", {"interval=18:59"}, "");
    row("interval 19:01", {"interval=19:01"}, "interval");
    row("interval without two digits", {"interval=0:15"}, "interval");
    row("start delay 04:59", {"startDelay=04:59"}, "");
    row("start delay 05:00", {"startDelay=05:00"}, "startDelay");
    row("limits at the range's ends", {"alarm.lower=-40", "alarm.upper=85"}, "");
    row("limit past the range", {"alarm.upper=86"}, "alarm.upper");
    row("limit not whole", {"alarm.lower=2.5"}, "alarm.lower");
    row("limit as text", {"alarm.lower=\"2\""}, "alarm.lower");
    row("crossed, alarm on", {"alarm.enabled=true", "alarm.lower=9", "alarm.upper=8"},
        "alarm.lower");
    row("crossed, alarm off", {"alarm.lower=9", "alarm.upper=8"}, "");
    row("flag as a number", {"alarm.enabled=1"}, "alarm.enabled");
    row("zone the window lists", {"zone=UTC-03:30"}, "");
    row("zone it does not list", {"zone=Europe/Berlin"}, "zone");
    row("scale", {"scale=K"}, "scale");
    row("CSV reports", {"report=csv"}, "report");
    row("unknown key", {"colour=red"}, "colour");
}

void ProfileTest::windowRules()
{
    QFETCH(QStringList, settings);
    QFETCH(QString, refused);

    QJsonObject profile;
    QString error;
    bool set = true;
    for (const QString &setting : settings)
        set = set && Profile::set(profile, setting, &error);
    const std::optional<LoggerConfig> config
        = set ? Profile::toConfig(profile, &error) : std::nullopt;

    QVERIFY2(config.has_value() == refused.isEmpty(), qPrintable(error));
    if (config && settings.isEmpty())
        QCOMPARE(*config, LoggerConfig::windowDefaults());
    if (!config)
        QVERIFY2(error.startsWith(refused + QLatin1Char(':'))
                     || error.contains(QLatin1Char('"') + refused + QLatin1Char('"')),
                 qPrintable(error));
}

void ProfileTest::documents_data()
{
    QTest::addColumn<QByteArray>("profile");
    QTest::addColumn<QByteArray>("held"); // as read from a logger
    QTest::addColumn<QString>("outcome"); // "key=value" as taken, or "!key" refused naming key
    QTest::addColumn<QString>("message"); // a part of the refusal

    const auto row = [](const char *name, const char *profile, const char *held,
                        const char *outcome, const char *message = "") {
        QTest::newRow(name) << QByteArray(profile) << QByteArray(held) << QString(outcome)
                            << QString::fromUtf8(message);
    };
    row("dotted key as the nested one", R"({"alarm.lower": 2, "alarm.enabled": true})", "{}",
        "alarm.lower=2");
    row("dotted flag", R"({"alarm.enabled": true, "alarm.upper": 9})", "{}", "alarm.enabled=true");
    row("dotted key out of range", R"({"alarm.lower": 99})", "{}", "!alarm.lower");
    row("dotted flag of another type", R"({"alarm.enabled": "banana"})", "{}", "!alarm.enabled");
    row("dotted and nested at once", R"({"alarm": {"lower": 3}, "alarm.lower": 2})", "{}",
        "!alarm.lower", "given twice");
    row("dotted unknown key", R"({"alarm.colour": 1})", "{}", "!alarm.colour");
    row("zone UTC", R"({"zone": "UTC"})", "{}", "zone=UTC-00:00");
    row("zone +00:00 in lower case", R"({"zone": "utc+00:00"})", "{}", "zone=UTC-00:00");
    row("zone in lower case", R"({"zone": "utc+05:45"})", "{}", "zone=UTC+05:45");
    row("zone hour of one digit", R"({"zone": "UTC+5:30"})", "{}", "zone=UTC+05:30");
    row("zone not listed, its neighbours named", R"({"zone": "UTC+05:15"})", "{}", "!zone",
        "UTC+05:00, UTC+05:30, UTC+05:45");
    row("zone by name, its offset's zones named", R"({"zone": "Asia/Kolkata"})", "{}", "!zone",
        "UTC+05:30");
    row("long value, a piece of it repeated",
        qPrintable(QStringLiteral(R"({"zone": "%1"})").arg(QString(5000, QLatin1Char('x')))), "{}",
        "!zone", "xxxxxxxxxx…");
    row("long unknown key",
        qPrintable(QStringLiteral(R"({"%1": 1})").arg(QString(5000, QLatin1Char('k')))), "{}",
        "!kkkkkkkkkk");
    row("short interval written by hand", R"({"interval": "00:05"})", "{}", "!interval");
    row("short interval read from a logger", R"({"interval": "00:05"})", R"({"interval": "00:05"})",
        "interval=00:05");
    row("short interval other than held", R"({"interval": "00:04"})", R"({"interval": "00:05"})",
        "!interval");
    row("CSV read from a logger", R"({"report": "csv"})", R"({"report": "csv"})", "report=csv");
    row("a key given twice", R"({"interval": "00:10", "interval": "00:11"})", "{}", "!interval",
        "given twice");
    row("a nested key given twice", R"({"alarm": {"lower": 2, "upper": 8, "lower": 3}})", "{}",
        "!alarm.lower", "given twice");
    row("a key given twice, once escaped", R"({"scale": "C", "sc\u0061le": "F"})", "{}", "!scale",
        "given twice");
    row("the same key in two objects", R"({"alarm": {"lower": 2}, "x": [{"lower": 3}]})", "{}",
        "!x");
    row("a list", R"([{"interval": "00:15"}])", "{}", "!",
        "one JSON object, this file holds a list");
}

void ProfileTest::documents()
{
    QFETCH(QByteArray, profile);
    QFETCH(QByteArray, held);
    QFETCH(QString, outcome);
    QFETCH(QString, message);

    QTemporaryFile file;
    QVERIFY(file.open() && file.write(profile) == profile.size() && file.flush());
    QString error;
    const std::optional<QJsonObject> loaded = Profile::load(file.fileName(), &error);
    const std::optional<LoggerConfig> config = loaded
        ? Profile::toConfig(*loaded, &error, QJsonDocument::fromJson(held).object())
        : std::nullopt;
    const QString key = outcome.section(QLatin1Char('='), 0, 0).remove(QLatin1Char('!'));
    QVERIFY2(config.has_value() != outcome.startsWith(QLatin1Char('!')), qPrintable(error));
    if (config)
        QCOMPARE(Profile::shortText(Profile::value(Profile::fromConfig(*config), key)),
                 outcome.section(QLatin1Char('='), 1));
    else
        QVERIFY2(error.contains(key) && error.contains(message) && error.size() < 300,
                 qPrintable(error));
}

QTEST_GUILESS_MAIN(ProfileTest)
#include "tst_profile.moc"
