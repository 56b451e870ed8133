// The station window on the virtual USB bench: simulated loggers plugged in as USB serial ports,
// the window's Station finding them through the system's own port list. What is checked is what
// a screen reader reads (each tile's accessible name, the counter's) and what the loggers and
// the record received. Each case runs on a bench of its own (CMakeLists.txt); a screenshot of
// each state goes to TEMPYRA_SCREENSHOTS, tagged with TEMPYRA_SCREENSHOT_TAG.

#include "stationwindow/loggertile.h"
#include "stationwindow/stationwindow.h"

#include "record/audit.h"
#include "record/personkey.h"
#include "record/trust.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

constexpr int kPatienceMs = 20000;

QByteArray benchLog(int n)
{
    QFile file(qEnvironmentVariable("TEMPYRA_VUSB_DIR") + QStringLiteral("/sim%1.log").arg(n));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

bool bench(const char *action, int port)
{
    return QProcess::execute(qEnvironmentVariable("TEMPYRA_VUSB_CTL"),
                             {QLatin1String(action), QString::number(port)})
        == 0;
}

// What a screen reader reads of a widget.
QString spoken(QWidget *widget)
{
    QAccessibleInterface *face = widget ? QAccessible::queryAccessibleInterface(widget) : nullptr;
    return face ? face->text(QAccessible::Name) : QString();
}

// A dark desktop theme: light text on dark grounds.
QPalette darkPalette()
{
    QPalette dark(QColor(60, 60, 60), QColor(40, 40, 40));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, QColor(225, 225, 225));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Mid, QColor(120, 120, 120));
    return dark;
}

QString lines(const QString &file)
{
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll());
}

} // namespace

class StationWindowTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<StationWindow> window;

    QString path(const QString &name) const { return dir.filePath(name); }
    template<typename T> T *child(const char *name) const
    {
        T *widget = window->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    QString tileSays(const QString &logger) const { return spoken(window->tile(logger)); }
    void screenshot(const QString &state)
    {
        const QString folder = qEnvironmentVariable("TEMPYRA_SCREENSHOTS");
        if (folder.isEmpty())
            return;
        QDir().mkpath(folder);
        window->grab().save(
            QStringLiteral("%1/%2-%3.png")
                .arg(folder, qEnvironmentVariable("TEMPYRA_SCREENSHOT_TAG"), state));
    }
    // Starts a run as the command line would.
    void start(Choices::Given given)
    {
        QString error;
        QVERIFY2(window->startWith(given, &error), qPrintable(error));
    }
    Choices::Given choices(const QString &list = QString()) const
    {
        Choices::Given given;
        given.profile = path(QStringLiteral("profiles/cold-chain.json"));
        given.operatorName = QStringLiteral("Ana Lima");
        given.expect = list;
        given.log = path(QStringLiteral("audit.jsonl"));
        return given;
    }

private slots:
    void initTestCase()
    {
        // The settings and the default record of this run only.
        qputenv("HOME", dir.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toUtf8());
        qputenv("XDG_DATA_HOME", path(QStringLiteral("data")).toUtf8());
        if (qEnvironmentVariableIntValue("TEMPYRA_TEST_DARK"))
            QApplication::setPalette(darkPalette());
        QDir(dir.path()).mkpath(QStringLiteral("profiles"));
        QDir(dir.path()).mkpath(QStringLiteral("shipments"));
        QFile profile(path(QStringLiteral("profiles/cold-chain.json")));
        QVERIFY(profile.open(QIODevice::WriteOnly));
        profile.write(R"({"scale": "C", "alarm": {"enabled": true, "lower": 2, "upper": 8},
            "startDelay": "00:30", "interval": "00:10", "zone": "UTC+05:30", "report": "pdf"})");
        profile.close();
        QFile list(path(QStringLiteral("shipments/0412.txt")));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("# shipment 0412\nTL-0001\nTL-0003\nTL-0004\n");
        QSettings settings(QStringLiteral("Tempyra"), QStringLiteral("tempyra-station"));
        settings.setValue(QStringLiteral("profilesFolder"), path(QStringLiteral("profiles")));
        settings.setValue(QStringLiteral("shipmentsFolder"), path(QStringLiteral("shipments")));
        settings.setValue(QStringLiteral("record"), path(QStringLiteral("audit.jsonl")));
    }

    void init()
    {
        if (qEnvironmentVariableIsEmpty("TEMPYRA_VUSB_DIR")
            && QString::fromLatin1(QTest::currentTestFunction()) != QLatin1String("refused"))
            QSKIP("not on the virtual USB bench: run through tempyra-vusb");
        window = std::make_unique<StationWindow>();
        // A 1366 × 768 screen less a title bar, at the scale factor of the run.
        const qreal scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble();
        window->resize(int(1366 / scale), int(730 / scale));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void cleanup() { window.reset(); }

    // A shipment of three: one good, one that gets its first write wrong, one never plugged in;
    // and a logger from another batch. Started from the keyboard, as a barcode scanner types.
    void shipment()
    {
        QTest::keyClicks(child<QLineEdit>("operatorEdit"), QStringLiteral("Ana Lima"));
        QCOMPARE(child<QComboBox>("profileBox")->currentText(), QStringLiteral("cold-chain"));
        QCOMPARE(child<QLabel>("profileSentence")->text(),
                 QStringLiteral("2–8 °C, alarm on · log every 10 min · start after 30 min · "
                                "UTC+05:30 · PDF"));
        screenshot(QStringLiteral("choices"));
        QTest::keyClicks(child<QLineEdit>("shipmentEdit"), QStringLiteral("0412"));
        // Each turn of the event loop, what a screen reader would read of the retried logger.
        QStringList heard;
        QTimer listener;
        connect(&listener, &QTimer::timeout, this, [&] {
            const QString now = tileSays(QStringLiteral("TL-0003"));
            if (!now.isEmpty() && heard.value(heard.size() - 1) != now)
                heard.append(now);
        });
        listener.start(0);
        QTest::keyClick(child<QLineEdit>("shipmentEdit"), Qt::Key_Return);
        QVERIFY2(window->station(), qPrintable(child<QLabel>("refusal")->text()));

        QTRY_VERIFY2_WITH_TIMEOUT(spoken(child<QLabel>("counter")) == "2 of 3 verified",
                                  qPrintable(spoken(child<QLabel>("counter"))), kPatienceMs);
        QTRY_VERIFY_WITH_TIMEOUT(window->tile("TL-0099"), kPatienceMs);
        QTRY_COMPARE_WITH_TIMEOUT(tileSays("TL-0099"),
                                  QStringLiteral("TL-0099 refused: not on the list: put it aside"),
                                  kPatienceMs);
        const QRegularExpression verified("^TL-000[13] verified: set at \\d\\d:\\d\\d:\\d\\d$");
        QVERIFY2(verified.match(tileSays("TL-0001")).hasMatch(), qPrintable(tileSays("TL-0001")));
        QVERIFY2(verified.match(tileSays("TL-0003")).hasMatch(), qPrintable(tileSays("TL-0003")));
        QCOMPARE(tileSays("TL-0004"), QStringLiteral("TL-0004 waiting"));
        listener.stop();
        const QStringList expected {
            "TL-0003 writing: on ttyACM2", "TL-0003 checking: reading it back",
            "TL-0003 mismatch: interval 00:10 written, 00:11 read back; "
            "trying again (attempt 2 of 2)",
            "TL-0003 writing: on ttyACM2", "TL-0003 checking: reading it back"};
        QVERIFY2(heard.mid(1, expected.size()) == expected, qPrintable(heard.join(" | ")));
        QCOMPARE(window->tiles().size(), 4);
        screenshot(QStringLiteral("running"));

        QTest::mouseClick(child<QPushButton>("endButton"), Qt::LeftButton);
        QTRY_VERIFY(child<QWidget>("doneBox")->isVisible());
        QCOMPARE(spoken(child<QLabel>("doneLabel")),
                 QStringLiteral("Shipment ended: 2 of 3 verified"));
        QString error;
        const std::optional<Audit::Head> head
            = Audit::currentHead(path(QStringLiteral("audit.jsonl")), &error);
        QVERIFY2(head, qPrintable(error));
        QCOMPARE(child<QLineEdit>("headFull")->text(), head->text());
        QCOMPARE(head->seq, 4); // two verified, a mismatch, a refusal
        screenshot(QStringLiteral("ended"));

        // The report of this shipment, beside the record.
        QTest::mouseClick(child<QPushButton>("reportButton"), Qt::LeftButton);
        const QStringList reports = QDir(dir.path()).entryList({QStringLiteral("0412-*.html")});
        QCOMPARE(reports.size(), 1);
        const QString page = lines(path(reports.first()));
        QVERIFY(page.contains(QStringLiteral("TL-0004")));
        QVERIFY(page.contains(head->text()));

        // The next shipment keeps the operator and the profile, and waits for its number.
        QTest::mouseClick(child<QPushButton>("nextButton"), Qt::LeftButton);
        QVERIFY(!window->station());
        QVERIFY(child<QLineEdit>("shipmentEdit")->hasFocus());
        QCOMPARE(child<QLineEdit>("operatorEdit")->text(), QStringLiteral("Ana Lima"));
    }

    // The record cannot be written (a full disk): the banner names it, the logger written is
    // not green, no further logger is written; once it takes lines again, the owed line goes in.
    void recordFailing()
    {
        QVERIFY(bench("unplug", 0) && bench("unplug", 1));
        QDir(dir.path()).mkpath(QStringLiteral("disk"));
        const QString disk = path(QStringLiteral("disk"));
        if (QProcess::execute(QStringLiteral("mount"),
                              {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                               QStringLiteral("size=64k"), QStringLiteral("tmpfs"), disk})
            != 0)
            QSKIP("no tmpfs can be mounted here");
        Choices::Given given = choices();
        given.log = disk + QStringLiteral("/audit.jsonl");
        start(given);
        QFile filler(disk + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) { }
        filler.close();

        QVERIFY(bench("replug", 0));
        QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>("banner")->isVisible(), kPatienceMs);
        QVERIFY2(spoken(child<QLabel>("banner")).contains(given.log.value()),
                 qPrintable(spoken(child<QLabel>("banner"))));
        QTRY_COMPARE(tileSays("TL-0001"),
                     QStringLiteral("TL-0001 not recorded: verified, held until the record takes "
                                    "its line"));
        QCOMPARE(spoken(child<QLabel>("counter")), QStringLiteral("0 verified"));
        QVERIFY(bench("replug", 1));
        QTest::qWait(1500);
        QVERIFY2(!benchLog(1).contains("cmd 1 "), "a logger was written while the record failed");
        screenshot(QStringLiteral("record-failing"));

        QVERIFY(QFile::remove(disk + QStringLiteral("/filler")));
        QTRY_VERIFY_WITH_TIMEOUT(!child<QLabel>("banner")->isVisible(), kPatienceMs);
        QTRY_VERIFY_WITH_TIMEOUT(tileSays("TL-0001").startsWith("TL-0001 verified: set at"),
                                 kPatienceMs);
        QTRY_VERIFY_WITH_TIMEOUT(tileSays("TL-0002").startsWith("TL-0002 verified: set at"),
                                 kPatienceMs);
        QCOMPARE(spoken(child<QLabel>("counter")), QStringLiteral("2 verified"));
        screenshot(QStringLiteral("record-restored"));
        QTest::mouseClick(child<QPushButton>("endButton"), Qt::LeftButton);
        QTRY_VERIFY(child<QWidget>("doneBox")->isVisible());
        QCOMPARE(lines(given.log.value()).count(QStringLiteral("\"outcome\":\"verified\"")), 2);
        QProcess::execute(QStringLiteral("umount"), {disk});
    }

    // Closed while a logger is being written (it takes a second and a half to be read back):
    // once, the window waits for the write and its line; twice, it ends at once, the attempt
    // recorded as it stood.
    void closeDuringWrite_data()
    {
        QTest::addColumn<int>("closes");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("once") << 1 << "verified";
        QTest::newRow("twice") << 2 << "unverified";
    }
    void closeDuringWrite()
    {
        QFETCH(int, closes);
        QFETCH(QString, outcome);
        Choices::Given given = choices();
        given.settle = QStringLiteral("1500");
        const QString record = path(QStringLiteral("close-%1.jsonl").arg(closes));
        given.log = record;
        start(given);
        QTRY_VERIFY_WITH_TIMEOUT(benchLog(0).contains("cmd 1 "), kPatienceMs);
        for (int i = 0; i < closes; ++i)
            window->close();
        if (closes == 1) {
            QVERIFY2(window->isVisible(), "closed before the write in progress was done");
            QTRY_COMPARE(tileSays("TL-0001"), QStringLiteral("TL-0001 checking: reading it back"));
            screenshot(QStringLiteral("closing"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), kPatienceMs);
        const QString line = lines(record);
        QCOMPARE(line.count(QLatin1Char('\n')), 1);
        QVERIFY2(line.contains(QStringLiteral("\"outcome\":\"%1\"").arg(outcome)),
                 qPrintable(line));
    }

    // Pulled out during its read-back (it takes a second to answer): the tile says to plug it in
    // again, and the logger is taken on the port it comes back on.
    void unplugged()
    {
        QFile list(path(QStringLiteral("one.txt")));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("TL-0004\n");
        list.close();
        QVERIFY(bench("unplug", 1));
        Choices::Given given = choices(list.fileName());
        given.replyTimeout = QStringLiteral("3000");
        start(given);
        QTRY_VERIFY_WITH_TIMEOUT(benchLog(0).contains("cmd 0 "), kPatienceMs);
        QVERIFY(bench("unplug", 0));
        const QRegularExpression again(
            "^TL-0004 failed: plug it in again \\(attempt 2 of 2\\): the line ended");
        QTRY_VERIFY2_WITH_TIMEOUT(again.match(tileSays("TL-0004")).hasMatch(),
                                  qPrintable(tileSays("TL-0004")), kPatienceMs);
        screenshot(QStringLiteral("plug-in-again"));
        QVERIFY(bench("replug", 1));
        QTRY_VERIFY_WITH_TIMEOUT(child<QWidget>("doneBox")->isVisible(), kPatienceMs);
        QVERIFY2(tileSays("TL-0004").startsWith("TL-0004 verified"),
                 qPrintable(tileSays("TL-0004")));
        QCOMPARE(spoken(child<QLabel>("doneLabel")),
                 QStringLiteral("\u2714 Every listed logger is verified"));
    }

    // An operator signed in with their key: a wrong passphrase refused with nothing written; the
    // run signed in and out; gone quiet, no logger written until they sign in again. With a team
    // file, an unapproved profile is not written.
    void signIn()
    {
        const auto secret = [](const char *text) {
            SecretBytes bytes(int(qstrlen(text)));
            std::copy(text, text + qstrlen(text), bytes.data());
            bytes.resize(int(qstrlen(text)));
            return bytes;
        };
        QString error;
        const QString key = path(QStringLiteral("ana.key"));
        QVERIFY2(PersonKey::create(key, QStringLiteral("Ana Lima"), secret("ana passphrase"), {},
                                   &error),
                 qPrintable(error));
        QVERIFY(bench("unplug", 0));
        Choices::Given given = choices();
        given.operatorName.reset();
        given.log = path(QStringLiteral("signed.jsonl"));
        QVERIFY(!window->startWith(given, &error, key, secret("not it")));
        QVERIFY2(error.contains(QLatin1String("passphrase does not open")), qPrintable(error));
        QVERIFY(!QFile::exists(*given.log));
        // A team file that trusts Ana as operator; the profile has no approval.
        const std::optional<QByteArray> pub = PersonKey::publicFile(key, &error);
        QVERIFY2(pub, qPrintable(error));
        Trust::Team team;
        team.keys = *Trust::parseKeyFile(*pub, &error);
        team.keys.first().everyRole = false;
        team.keys.first().grants = {{Trust::Role::Operator, Trust::kAlways, Trust::kNever}};
        QFile file(path(QStringLiteral("team.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(team.text()) > 0);
        file.close();
        QVERIFY(!window->startWith(given, &error, key, secret("ana passphrase"), file.fileName()));
        QVERIFY2(error.contains(QLatin1String("is not approved")), qPrintable(error));
        QSettings(QStringLiteral("Tempyra"), QStringLiteral("tempyra-station"))
            .remove(QStringLiteral("team"));

        window = std::make_unique<StationWindow>();
        window->show();
        window->setSignInIdle(300);
        QVERIFY2(window->startWith(given, &error, key, secret("ana passphrase")),
                 qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(child<QWidget>("signInAgainBox")->isVisible(), kPatienceMs);
        screenshot(QStringLiteral("sign-in-again"));
        QVERIFY(bench("replug", 0));
        QTest::qWait(1500);
        QVERIFY2(!benchLog(0).contains("cmd 1 "), "written while signed out for idleness");
        QTest::keyClicks(child<QLineEdit>("signInAgainEdit"), QStringLiteral("ana passphrase"));
        QTest::keyClick(child<QLineEdit>("signInAgainEdit"), Qt::Key_Return);
        QTRY_VERIFY2_WITH_TIMEOUT(tileSays("TL-0001").startsWith("TL-0001 verified"),
                                  qPrintable(tileSays("TL-0001")), kPatienceMs);
        QTest::mouseClick(child<QPushButton>("endButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(lines(*given.log).contains("\"signOut\""), kPatienceMs);
        const QStringList record = lines(*given.log).trimmed().split(QLatin1Char('\n'));
        QVERIFY2(record.first().contains("\"signIn\"") && record.last().contains("\"signOut\""),
                 qPrintable(record.join('\n')));
    }

    // A logger that answers nothing at first, as a port that takes its first bytes late: its
    // failed attempt before it identified itself is its own, and leaves no tile of its own.
    void identifiedLate()
    {
        QFile list(path(QStringLiteral("late.txt")));
        QVERIFY(list.open(QIODevice::WriteOnly) && list.write("TL-0001\n") > 0);
        list.close();
        start(choices(list.fileName()));
        QTRY_VERIFY2_WITH_TIMEOUT(tileSays("TL-0001").startsWith("TL-0001 verified"),
                                  qPrintable(tileSays("TL-0001")), kPatienceMs);
        QVERIFY2(benchLog(0).count("cmd 3") >= 2, benchLog(0).constData());
        QCOMPARE(window->tiles().size(), 1);
    }

    // An identifier with a carriage return in it: shown and read out escaped, not obeyed.
    void controlCharacters()
    {
        start(choices());
        const QString id = QStringLiteral("TL-0009\rX");
        QTRY_VERIFY_WITH_TIMEOUT(window->tile(id), kPatienceMs);
        QTRY_VERIFY2_WITH_TIMEOUT(tileSays(id).startsWith("TL-0009\\rX verified: set at"),
                                  qPrintable(tileSays(id)), kPatienceMs);
        for (const QLabel *label : window->tile(id)->findChildren<QLabel *>())
            QVERIFY2(!label->text().contains(QLatin1Char('\r')), qPrintable(label->text()));
    }

    // A start refused: nothing written, the CLI's words on the choice screen, the field concerned
    // in focus.
    void refused_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("operatorName");
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("field");
        const QString good = QStringLiteral("profiles/cold-chain.json");
        QTest::newRow("profile out of range") << "bad.json"
                                              << "Ana"
                                              << ""
                                              << "alarm.upper: 90 is not allowed"
                                              << "profileBox";
        QTest::newRow("no operator") << good << " "
                                     << ""
                                     << "--operator: a name of 1 to 64 characters"
                                     << "operatorEdit";
        QTest::newRow("no such list") << good << "Ana"
                                      << "shipments/0999.txt"
                                      << "--expect "
                                      << "shipmentEdit";
    }
    void refused()
    {
        QFETCH(QString, profile);
        QFETCH(QString, operatorName);
        QFETCH(QString, list);
        QFETCH(QString, message);
        QFETCH(QString, field);
        QFile bad(path(QStringLiteral("bad.json")));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(R"({"alarm": {"enabled": true, "lower": 2, "upper": 90}})");
        bad.close();
        Choices::Given given = choices(list.isEmpty() ? QString() : path(list));
        given.profile = path(profile);
        given.operatorName = operatorName;
        QString error;
        QVERIFY(!window->startWith(given, &error));
        QVERIFY2(error.contains(message), qPrintable(error));
        QVERIFY(!window->station());
        QCOMPARE(child<QStackedWidget>("pages")->currentWidget()->objectName(),
                 QStringLiteral("choicePage"));
        QCOMPARE(spoken(child<QLabel>("refusal")).mid(1), error.mid(1));
        QCOMPARE(QApplication::focusWidget()->objectName(), field);
        if (QTest::currentDataTag() == QLatin1String("profile out of range"))
            screenshot(QStringLiteral("refused"));
    }
};

QTEST_MAIN(StationWindowTest)
#include "tst_stationwindow.moc"
