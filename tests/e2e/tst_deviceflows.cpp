// Runs inside the virtual USB bench (tools/vusb), which plugs in simulated loggers as USB serial
// ports 0483:5740; the window finds them through the system's own port list. Each case runs on
// a bench of its own with loggers in the case's fault mode: the flow_case table in
// CMakeLists.txt names the function and, for a data-driven one, its row.

#include "app/devicestate.h"
#include "app/mainwindow.h"
#include "windowprobe.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QSysInfo>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {
const QString kDefaults = QStringLiteral("C off 60 5 00 30 00 10 PDF UTC+05:30");
const QString kConnected = QStringLiteral("Connected!");
const QString kNoLogger = QStringLiteral("No Device Connected!");
const QString kGone = QStringLiteral("Disonnected!");
const QStringList kConnect {"cmd 3 identification request", "cmd 2 device-id request"};

// A log of the bench: what simulated logger n received ("sim0.log"), what another port was
// sent ("port1.log", after the line that names it).
QByteArray benchLog(const QString &name)
{
    QFile file(qEnvironmentVariable("TEMPYRA_VUSB_DIR") + QLatin1Char('/') + name);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// The commands simulated logger n has received, as its log names them ("cmd 3 ...").
QStringList commandsSeenBy(int n)
{
    const QString log = QString::fromUtf8(benchLog(QStringLiteral("sim%1.log").arg(n)));
    return log.split('\n').filter(QRegularExpression("^cmd "));
}

// Unplugs or plugs in again a port of the bench: "unplug" or "replug".
bool bench(const char *action, int port)
{
    const QStringList arguments {QLatin1String(action), QString::number(port)};
    return QProcess::execute(qEnvironmentVariable("TEMPYRA_VUSB_CTL"), arguments) == 0;
}
} // namespace

class DeviceFlowsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindow> window;

    QStringList log() const { return activityLog(window.get()); }
    QString text(const char *name) const { return textOf(window.get(), name); }
    void click(const char *name) { ::click(window.get(), name); }
    void openWindow()
    {
        resetDeviceState();
        window = std::make_unique<MainWindow>();
        window->show();
    }
    void expectConnected(const QString &identifier = QStringLiteral("TL-0001"))
    {
        QCOMPARE(log().first(), kConnected);
        QCOMPARE(text("ConnectButton"), QStringLiteral("Disconnect"));
        QCOMPARE(deviceConnected, 1);
        QTRY_COMPARE(text("deviceID"), identifier);
    }
    void expectNoLogger()
    {
        QCOMPARE(log(), QStringList {kNoLogger});
        QCOMPARE(text("ConnectButton"), QStringLiteral("Connect"));
        QCOMPARE(deviceConnected, 0);
        QVERIFY(!serialPort->isOpen());
    }

private slots:
    void init()
    {
        if (qEnvironmentVariableIsEmpty("TEMPYRA_VUSB_DIR"))
            QSKIP("not on the virtual USB bench: run through tempyra-vusb");
        // The start-up and unplug cases set their scene before the window's first scan.
        const QByteArray function = QTest::currentTestFunction();
        if (function != "startUp" && function != "unplug")
            openWindow();
    }
    void cleanup() { window.reset(); }

    void session()
    {
        // Connected before the window was first shown. Disconnected, Read connects first and
        // waits for the whole identifier before it asks for the configuration.
        expectConnected();
        click("ConnectButton");
        QCOMPARE(log().last(), QStringLiteral("Disconnected!"));
        QVERIFY(text("deviceID").isEmpty());
        click("readButton");
        QCOMPARE(log().mid(1), QStringList({"Disconnected!", kConnected, "Reading Data"}));
        QCOMPARE(text("deviceID"), QStringLiteral("TL-0001"));
        QTRY_VERIFY(!text("deviceTime").isEmpty());
        QCOMPARE(formText(window.get()), kDefaults);
        // Edited and written, the settings come back with the next Read.
        const QString edited = QStringLiteral("F on 85 -5 02 15 01 30 PDF UTC-03:00");
        setForm(window.get(), edited);
        click("setConfigButton");
        QCOMPARE(log().last(), QStringLiteral("Device Configured!"));
        QTRY_COMPARE(commandsSeenBy(0).size(), 6);
        const QString sent = commandsSeenBy(0).last();
        QVERIFY2(sent.startsWith("cmd 1 config: scale=F alarm=on upper=085 lower=-05 delay=02:15 "
                                 "interval=01:30 file=PDF clock=")
                     && sent.endsWith(" zone=-0300"),
                 qPrintable(sent));
        setForm(window.get(), kDefaults);
        click("readButton");
        QTRY_COMPARE(formText(window.get()), edited);
        QCOMPARE(commandsSeenBy(0).mid(0, 5),
                 kConnect + kConnect + QStringList {"cmd 0 config read request"});
        // Closing the window closes the port and sends nothing.
        window.reset();
        QTest::qWait(200);
        QCOMPARE(commandsSeenBy(0).size(), 7);
    }

    void startUp_data()
    {
        QTest::addColumn<bool>("connects");
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<int>("commands"); // the logger received, of "3" and "2"
        QTest::addColumn<QString>("scene"); // undone before Connect is pressed again
        QTest::newRow("answer_inside_bound") << true << "TL-0001" << 2 << ""; // 150 ms late
        QTest::newRow("answer_past_bound") << false << "" << 1 << ""; // 400 ms late
        QTest::newRow("wrong_id") << false << "" << 1 << "";
        QTest::newRow("silent") << false << "" << 1 << "";
        QTest::newRow("no_logger") << false << "" << 0 << "";
        // Held the way serial programs hold a port, by a lock file in the name of a program that
        // runs (this one), on this host.
        QTest::newRow("port_held") << false << "" << 0 << "held";
        // Run without the capability to override file permissions (see the test's command), as
        // a desktop user without the udev rule.
        QTest::newRow("no_permission") << false << "" << 0 << "no permission";
    }
    void startUp()
    {
        QFETCH(bool, connects);
        QFETCH(QString, identifier);
        QFETCH(int, commands);
        QFETCH(QString, scene);
        const QString node = QStringLiteral("/dev/ttyACM0");
        const QFile::Permissions usual = QFile::permissions(node);
        QFile lock(QStringLiteral("/run/lock/LCK..ttyACM0"));
        if (scene == QLatin1String("held")) {
            QVERIFY(lock.open(QIODevice::WriteOnly));
            lock.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n'
                       + QCoreApplication::applicationName().toUtf8() + '\n'
                       + QSysInfo::machineHostName().toUtf8() + '\n');
            lock.close();
        } else if (!scene.isEmpty()) {
            QVERIFY(QFile::setPermissions(node, QFile::Permissions()));
        }
        openWindow();
        QTest::qWait(300); // a late answer may come after the wait: it changes nothing
        if (connects)
            expectConnected(identifier);
        else
            expectNoLogger();
        QCOMPARE(log().size(), 1);
        QCOMPARE(commandsSeenBy(0), kConnect.mid(0, commands));
        // Only loggers are asked: a plain serial port and another vendor's adapter get nothing.
        for (const char *port : {"port0.log", "port1.log"})
            QCOMPARE(benchLog(QLatin1String(port)).split('\n').value(1), QByteArray());
        if (connects)
            return;
        // Without a logger that answers, Read and Set say so; a port usable again is found.
        click("readButton");
        click("setConfigButton");
        QCOMPARE(log(), QStringList({kNoLogger, kNoLogger, kNoLogger}));
        if (scene.isEmpty())
            return;
        lock.remove();
        QVERIFY(QFile::setPermissions(node, usual));
        click("ConnectButton");
        QCOMPARE(log().last(), kConnected);
    }

    void readReply_data()
    {
        QTest::addColumn<QString>("settings"); // the form after Read
        QTest::addColumn<QString>("clock"); // the device time shown, as a pattern
        QTest::addColumn<int>("lastDelivery"); // its size: proof that the logger's fault happened
        const QString time = QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$");
        QTest::newRow("split_replies") << kDefaults << time << 19;
        QTest::newRow("trailing_bytes") << kDefaults << time << 37 + 5;
        // Limits "abc"; scale, alarm and file type neither of their values; minutes "77"; zone
        // "+9999": what cannot be read stays as it was.
        QTest::newRow("bad_fields") << "F on 0 0 00 45 00 30 CSV UTC-03:00" << time << 37;
        QTest::newRow("truncated") << "F on 20 10 02 45 01 30 CSV UTC-03:00"
                                   << "^$" << 20;
    }
    void readReply()
    {
        QFETCH(QString, settings);
        QFETCH(QString, clock);
        QFETCH(int, lastDelivery);
        expectConnected();
        setForm(window.get(), QStringLiteral("F on 20 10 02 45 01 30 CSV UTC-03:00"));
        click("readButton");
        QTest::qWait(300); // the whole reply and whatever follows it
        QCOMPARE(readData.size(), lastDelivery);
        QCOMPARE(formText(window.get()), settings);
        QVERIFY(QRegularExpression(clock).match(text("deviceTime")).hasMatch());
        // With zero hours the ten shortest intervals are not offered.
        const auto *minutes = namedChild<QComboBox>(window.get(), "logMinutes");
        auto *items = qobject_cast<QStandardItemModel *>(minutes->model());
        QCOMPARE(items->item(9)->isEnabled(), text("logHours") != QLatin1String("00"));
        QVERIFY(items->item(10)->isEnabled());
        // Whatever was read, the form can be written.
        click("setConfigButton");
        QCOMPARE(log(), QStringList({kConnected, "Reading Data", "Device Configured!"}));
    }

    void floodingLoggerDoesNotHang()
    {
        // Whatever the flood did to the handshake, the log says what happened, and the window
        // goes on answering and taking the flood.
        QSignalSpy deliveries(serialPort, &QSerialPort::readyRead);
        QCOMPARE(log(), QStringList {deviceConnected ? kConnected : kNoLogger});
        click("setConfigButton");
        QCOMPARE(log().last(), deviceConnected ? "Device Configured!" : kNoLogger);
        QTest::qWait(300);
        QVERIFY(!deviceConnected || deliveries.count() >= 5);
    }

    void pressesDuringAScanAreIgnored()
    {
        expectConnected();
        click("ConnectButton");
        // Presses that arrive while the scan waits for the (slow) identification answer.
        QTimer::singleShot(50, this, [this] {
            click("ConnectButton");
            click("readButton");
            click("setConfigButton");
        });
        click("ConnectButton");
        QCOMPARE(log().mid(1), QStringList({"Disconnected!", kConnected}));
        QTest::qWait(400);
        QCOMPARE(commandsSeenBy(0), kConnect + kConnect); // one scan, nothing else
    }

    void twoLoggersWatchTheConnectedOne()
    {
        expectConnected();
        QCOMPARE(serialPort->portName(), QStringLiteral("ttyACM0"));
        QVERIFY(bench("unplug", 0));
        QTRY_COMPARE_WITH_TIMEOUT(log().last(), kGone, 3000);
        QVERIFY(text("deviceID").isEmpty());
        QTest::qWait(1500);
        QCOMPARE(log().count(kGone), 1);
        QVERIFY(commandsSeenBy(1).isEmpty()); // the second logger was left alone,
        click("ConnectButton"); // and the next press finds it
        QCOMPARE(log().last(), kConnected);
        QCOMPARE(serialPort->portName(), QStringLiteral("ttyACM1"));
    }

    void repeatedReplies()
    {
        // Every reply comes twice, the copy 20 ms after it. A Read from cold shows the identifier
        // and the configuration, never a copy's bytes taken for them.
        expectConnected();
        QTest::qWait(100); // the copies of the start-up's replies
        click("ConnectButton");
        const QString other = QStringLiteral("F on 20 10 02 45 01 30 CSV UTC-03:00");
        setForm(window.get(), other);
        QSignalSpy filled(namedChild<QLineEdit>(window.get(), "deviceTime"),
                          &QLineEdit::textChanged);
        click("readButton");
        QVERIFY(filled.wait(2000));
        QCOMPARE(text("deviceID"), QStringLiteral("TL-0001"));
        QCOMPARE(formText(window.get()), kDefaults);
        // Disconnected at once, the reply's copy waits in the closed port: the next connection
        // does not take it for the identification answer.
        click("ConnectButton");
        QTest::qWait(100);
        click("ConnectButton");
        QCOMPARE(log().mid(1),
                 QStringList(
                     {"Disconnected!", kConnected, "Reading Data", "Disconnected!", kConnected}));
        QTRY_COMPARE(text("deviceID"), QStringLiteral("TL-0001"));
    }

    void unplug_data()
    {
        // The logger is pulled out: its open port fails at once.
        QTest::addColumn<QString>("step");
        QTest::addColumn<QStringList>("logged");
        QTest::newRow("during_identification") // 50 ms into the wait
            << "identification" << QStringList {kNoLogger};
        QTest::newRow("during_identifier") // Read waits for it, 200 ms late
            << "identifier" << QStringList {kConnected, kGone};
        QTest::newRow("during_read") // the logger answers 200 ms late
            << "read" << QStringList {kConnected, "Reading Data", kGone};
        QTest::newRow("before_write") // the watch has not run yet
            << "write" << QStringList {kConnected, "Device Not Configured!", kGone};
    }
    void unplug()
    {
        // The loss is reported, nothing of the logger stays in the window, and the window
        // answers; plugged in again, the logger is found.
        QFETCH(QString, step);
        QFETCH(QStringList, logged);
        const auto unplugSoon
            = [this] { QTimer::singleShot(50, this, [] { bench("unplug", 0); }); };
        if (step == QLatin1String("identification"))
            unplugSoon();
        openWindow();
        const QString other = QStringLiteral("F on 20 10 02 45 01 30 CSV UTC-03:00");
        setForm(window.get(), other);
        if (step == QLatin1String("identifier")) {
            unplugSoon();
            click("readButton");
        } else if (step != QLatin1String("identification")) {
            expectConnected();
            if (step == QLatin1String("read"))
                click("readButton");
            QVERIFY(bench("unplug", 0));
            if (step == QLatin1String("write"))
                click("setConfigButton");
        }
        QTRY_COMPARE_WITH_TIMEOUT(log(), logged, 3000);
        QVERIFY(!deviceConnected && !serialPort->isOpen());
        QVERIFY(text("deviceID").isEmpty());
        QCOMPARE(text("ConnectButton"), QStringLiteral("Connect"));
        QCOMPARE(formText(window.get()), other);
        QVERIFY(text("deviceTime").isEmpty());
        click("setConfigButton");
        QCOMPARE(log().last(), kNoLogger);
        QVERIFY(bench("replug", 0));
        click("ConnectButton");
        QCOMPARE(log().last(), kConnected);
        QTRY_COMPARE(text("deviceID"), QStringLiteral("TL-0001"));
    }
};

QTEST_MAIN(DeviceFlowsTest)
#include "tst_deviceflows.moc"
