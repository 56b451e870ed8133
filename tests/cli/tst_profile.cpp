#include "profile.h"

#include <QTest>

class ProfileTest : public QObject
{
    Q_OBJECT

private slots:
    void windowRules_data();
    void windowRules();
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

QTEST_GUILESS_MAIN(ProfileTest)
#include "tst_profile.moc"
