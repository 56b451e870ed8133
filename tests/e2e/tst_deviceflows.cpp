// Runs inside the virtual USB bench (tools/vusb), which plugs in simulated loggers as USB serial
// ports 0483:5740. The window finds them through the system's own port list.

#include "app/devicestate.h"
#include "app/mainwindow.h"
#include "device/loggerprotocol.h"
#include "windowprobe.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QSysInfo>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <memory>

class DeviceFlowsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void connectReadAndWrite();
    void readWhileDisconnectedConnectsFirst();
    void startsWithoutLogger();
    void lateAnswerInsideTheBound();
    void lateAnswerPastTheBoundIsNoLogger();
    void splitRepliesAreAssembled();
    void wrongIdentificationIsNoLogger();
    void silentLoggerIsNoLogger();
    void trailingBytesAreIgnored();
    void badFieldsKeepTheForm();
    void truncatedReplyChangesNothing();
    void floodingLoggerDoesNotHang();
    void twoLoggersWatchTheConnectedOne();
    void pressesDuringAScanAreIgnored();
    void unplugDuringRead();
    void unplugJustBeforeWrite();
    void portHeldByAnotherProgram();
    void unplugDuringIdentification();
    void portWithoutPermission();

private:
    template<class T> T *child(const char *name) const { return namedChild<T>(window.get(), name); }
    QStringList log() const;
    QStringList commandsSeenBy(int logger) const;
    void click(const char *button)
    {
        QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
    }
    bool bench(const QString &action, int port) const;
    void expectConnected();
    void expectNoLogger();
    void openWindow();

    std::unique_ptr<MainWindow> window;
};

void DeviceFlowsTest::init()
{
    if (qEnvironmentVariableIsEmpty("TEMPYRA_VUSB_DIR"))
        QSKIP("not on the virtual USB bench: run through tempyra-vusb (TEMPYRA_VUSB_DIR unset)");
    // These drills set the scene before the window makes its first connection attempt.
    const QByteArray function = QTest::currentTestFunction();
    if (function != "portHeldByAnotherProgram" && function != "unplugDuringIdentification"
        && function != "portWithoutPermission")
        openWindow();
}

void DeviceFlowsTest::openWindow()
{
    resetDeviceState();
    window = std::make_unique<MainWindow>();
    window->show();
}

void DeviceFlowsTest::cleanup()
{
    window.reset();
}

QStringList DeviceFlowsTest::log() const
{
    return activityLog(child<QTextEdit>("StatusLabel"));
}

// The commands a simulated logger has received, as its log names them ("cmd 3 ...").
QStringList DeviceFlowsTest::commandsSeenBy(int logger) const
{
    QFile file(QDir(qEnvironmentVariable("TEMPYRA_VUSB_DIR"))
                   .filePath(QStringLiteral("sim%1.log").arg(logger)));
    QStringList commands;
    if (!file.open(QIODevice::ReadOnly))
        return commands;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith("cmd "))
            commands.append(QString::fromUtf8(line));
    return commands;
}

bool DeviceFlowsTest::bench(const QString &action, int port) const
{
    return QProcess::execute(qEnvironmentVariable("TEMPYRA_VUSB_CTL"),
                             {action, QString::number(port)})
        == 0;
}

void DeviceFlowsTest::expectConnected()
{
    QCOMPARE(log().first(), QStringLiteral("Connected!"));
    QCOMPARE(child<QPushButton>("ConnectButton")->text(), QStringLiteral("Disconnect"));
    QCOMPARE(deviceConnected, 1);
    QTRY_COMPARE(child<QLineEdit>("deviceID")->text(), QStringLiteral("TL-0001"));
}

void DeviceFlowsTest::expectNoLogger()
{
    QCOMPARE(log(), QStringList {QStringLiteral("No Device Connected!")});
    QCOMPARE(child<QPushButton>("ConnectButton")->text(), QStringLiteral("Connect"));
    QCOMPARE(deviceConnected, 0);
    QVERIFY(!serialPort->isOpen());
}

void DeviceFlowsTest::connectReadAndWrite()
{
    // Connected before the window was first shown, identifier asked for.
    expectConnected();
    QTRY_COMPARE(commandsSeenBy(0),
                 QStringList({"cmd 3 identification request", "cmd 2 device-id request"}));

    click("readButton");
    QCOMPARE(log().last(), QStringLiteral("Reading Data"));
    QTRY_VERIFY(!child<QLineEdit>("deviceTime")->text().isEmpty());
    QVERIFY(QDateTime::fromString(child<QLineEdit>("deviceTime")->text(),
                                  QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                .isValid());
    QCOMPARE(child<QComboBox>("timezoneHours")->currentText(), QStringLiteral("UTC+05:30"));
    QCOMPARE(child<QLineEdit>("alarmUpper")->text(), QStringLiteral("60"));

    // Edit as an operator would, write, and read back what the logger stored.
    QTest::mouseClick(child<QRadioButton>("fahrenheitScale"), Qt::LeftButton);
    child<QGroupBox>("enableAlarmConfig")->setChecked(true);
    for (const auto &[name, text] :
         {std::pair {"alarmUpper", "85"}, std::pair {"alarmLower", "-5"}}) {
        child<QLineEdit>(name)->clear();
        QTest::keyClicks(child<QLineEdit>(name), QLatin1String(text));
    }
    child<QComboBox>("startHours")->setCurrentText(QStringLiteral("02"));
    child<QComboBox>("startMinutes")->setCurrentText(QStringLiteral("15"));
    child<QComboBox>("logHours")->setCurrentText(QStringLiteral("01"));
    child<QComboBox>("logMinutes")->setCurrentText(QStringLiteral("30"));
    child<QComboBox>("timezoneHours")->setCurrentText(QStringLiteral("UTC-03:00"));
    click("setConfigButton");
    QCOMPARE(log().last(), QStringLiteral("Device Configured!"));
    QTRY_COMPARE(commandsSeenBy(0).size(), 4);
    QVERIFY2(commandsSeenBy(0).last().startsWith(
                 QLatin1String("cmd 1 config: scale=F alarm=on upper=085 lower=-05 delay=02:15 "
                               "interval=01:30 file=PDF clock=")),
             qPrintable(commandsSeenBy(0).last()));
    QVERIFY(commandsSeenBy(0).last().endsWith(QLatin1String("zone=-0300")));

    // Back to the defaults in the form, then Read restores what the logger holds.
    QTest::mouseClick(child<QRadioButton>("celsiusScale"), Qt::LeftButton);
    child<QComboBox>("timezoneHours")->setCurrentText(QStringLiteral("UTC+05:30"));
    child<QLineEdit>("alarmUpper")->setText(QStringLiteral("60"));
    child<QComboBox>("logHours")->setCurrentText(QStringLiteral("00"));
    click("readButton");
    QTRY_COMPARE(child<QComboBox>("timezoneHours")->currentText(), QStringLiteral("UTC-03:00"));
    QVERIFY(child<QRadioButton>("fahrenheitScale")->isChecked());
    QCOMPARE(child<QLineEdit>("alarmUpper")->text(), QStringLiteral("85"));
    QCOMPARE(child<QLineEdit>("alarmLower")->text(), QStringLiteral("-5"));
    QCOMPARE(child<QComboBox>("logHours")->currentText(), QStringLiteral("01"));
    QCOMPARE(child<QComboBox>("logMinutes")->currentText(), QStringLiteral("30"));
    QCOMPARE(child<QComboBox>("startHours")->currentText(), QStringLiteral("02"));
    // The logger's clock runs in the zone it was given: within a few seconds of UTC-03:00 now.
    const QDateTime deviceClock = QDateTime::fromString(child<QLineEdit>("deviceTime")->text(),
                                                        QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const QDateTime expected = QDateTime::currentDateTimeUtc().addSecs(-3 * 3600);
    QVERIFY(qAbs(deviceClock.secsTo(QDateTime(expected.date(), expected.time()))) <= 5);
    QVERIFY(!log().join(QLatin1Char('\n')).contains(QLatin1String("Invalid Command!")));
}

void DeviceFlowsTest::readWhileDisconnectedConnectsFirst()
{
    expectConnected();
    click("ConnectButton");
    QCOMPARE(log().last(), QStringLiteral("Disconnected!"));
    QVERIFY(child<QLineEdit>("deviceID")->text().isEmpty());

    click("readButton");
    QCOMPARE(log().mid(2), QStringList({"Connected!", "Reading Data"}));
    // The identifier was complete before the configuration was asked for.
    QCOMPARE(child<QLineEdit>("deviceID")->text(), QStringLiteral("TL-0001"));
    QTRY_VERIFY(!child<QLineEdit>("deviceTime")->text().isEmpty());
    // Decoded from the configuration reply itself, not from bytes shifted by a late identifier.
    QVERIFY2(QDateTime::fromString(child<QLineEdit>("deviceTime")->text(),
                                   QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                 .isValid(),
             qPrintable(child<QLineEdit>("deviceTime")->text()));
    QCOMPARE(child<QLineEdit>("alarmUpper")->text(), QStringLiteral("60"));
    QTRY_COMPARE(commandsSeenBy(0).size(), 5);
    QCOMPARE(commandsSeenBy(0).mid(2),
             QStringList({"cmd 3 identification request", "cmd 2 device-id request",
                          "cmd 0 config read request"}));

    // Closing the window closes the port and sends nothing.
    window.reset();
    QTest::qWait(200);
    QCOMPARE(commandsSeenBy(0).size(), 5);
}

void DeviceFlowsTest::startsWithoutLogger()
{
    expectNoLogger();
    click("readButton");
    click("setConfigButton");
    QCOMPARE(log(),
             QStringList({"No Device Connected!", "No Device Connected!", "No Device Connected!"}));
}

void DeviceFlowsTest::lateAnswerInsideTheBound()
{
    expectConnected();
}

void DeviceFlowsTest::lateAnswerPastTheBoundIsNoLogger()
{
    expectNoLogger();
    // The late answer reaches a closed port and changes nothing.
    QTest::qWait(400);
    QCOMPARE(deviceIdentified, 0);
    QCOMPARE(log().size(), 1);
}

void DeviceFlowsTest::splitRepliesAreAssembled()
{
    expectConnected();
    click("readButton");
    QTRY_VERIFY(!child<QLineEdit>("deviceTime")->text().isEmpty());
    QCOMPARE(child<QComboBox>("timezoneHours")->currentText(), QStringLiteral("UTC+05:30"));
    QCOMPARE(child<QLineEdit>("deviceTime")->text().size(), 19);
}

void DeviceFlowsTest::wrongIdentificationIsNoLogger()
{
    expectNoLogger();
    QTRY_COMPARE(commandsSeenBy(0), QStringList {"cmd 3 identification request"});
}

void DeviceFlowsTest::silentLoggerIsNoLogger()
{
    expectNoLogger();
}

void DeviceFlowsTest::trailingBytesAreIgnored()
{
    expectConnected();
    click("readButton");
    QTRY_VERIFY(!child<QLineEdit>("deviceTime")->text().isEmpty());
    QCOMPARE(child<QComboBox>("logMinutes")->currentText(), QStringLiteral("10"));
    QTest::qWait(100);
    QCOMPARE(log(), QStringList({"Connected!", "Reading Data"}));
}

void DeviceFlowsTest::badFieldsKeepTheForm()
{
    expectConnected();
    click("readButton");
    QTRY_VERIFY(!child<QLineEdit>("deviceTime")->text().isEmpty());
    QVERIFY(child<QRadioButton>("celsiusScale")->isChecked()); // scale "x"
    QVERIFY(!child<QGroupBox>("enableAlarmConfig")->isChecked()); // alarm "7"
    QVERIFY(child<QRadioButton>("pdfFormat")->isChecked()); // file type "x"
    QCOMPARE(child<QLineEdit>("alarmUpper")->text(), QStringLiteral("0")); // "abc"
    QCOMPARE(child<QComboBox>("logMinutes")->currentText(), QStringLiteral("10")); // "77"
    QCOMPARE(child<QComboBox>("timezoneHours")->currentText(), QStringLiteral("UTC+05:30"));
    // A limit read as 0 is still a usable one; the write goes out.
    click("setConfigButton");
    QCOMPARE(log().last(), QStringLiteral("Device Configured!"));
}

void DeviceFlowsTest::truncatedReplyChangesNothing()
{
    expectConnected();
    click("readButton");
    QTest::qWait(500);
    QVERIFY(child<QLineEdit>("deviceTime")->text().isEmpty());
    QCOMPARE(child<QLineEdit>("alarmUpper")->text(), QStringLiteral("60"));
    QCOMPARE(log(), QStringList({"Connected!", "Reading Data"}));
}

void DeviceFlowsTest::floodingLoggerDoesNotHang()
{
    // Whatever the flood did to the handshake, the log says what happened and the window goes
    // on answering.
    const QStringList first = log();
    QVERIFY(first == QStringList {"Connected!"} || first == QStringList {"No Device Connected!"});
    QCOMPARE(deviceConnected == 1, first.first() == QLatin1String("Connected!"));
    click("setConfigButton");
    QCOMPARE(log().last(),
             deviceConnected ? QStringLiteral("Device Configured!")
                             : QStringLiteral("No Device Connected!"));
    QTest::qWait(300);
}

void DeviceFlowsTest::twoLoggersWatchTheConnectedOne()
{
    expectConnected();
    QCOMPARE(serialPort->portName(), QStringLiteral("ttyACM0"));
    QTest::qWait(200);
    QVERIFY(commandsSeenBy(1).isEmpty()); // the second logger is left alone

    QVERIFY(bench(QStringLiteral("unplug"), 0));
    QTRY_COMPARE_WITH_TIMEOUT(log().last(), QStringLiteral("Disonnected!"), 3000);
    QCOMPARE(child<QPushButton>("ConnectButton")->text(), QStringLiteral("Connect"));
    QVERIFY(child<QLineEdit>("deviceID")->text().isEmpty());
    QTest::qWait(1500);
    QCOMPARE(log().count(QStringLiteral("Disonnected!")), 1);

    // The one left is found by the next press.
    click("ConnectButton");
    QCOMPARE(log().last(), QStringLiteral("Connected!"));
    QCOMPARE(serialPort->portName(), QStringLiteral("ttyACM1"));
}

void DeviceFlowsTest::pressesDuringAScanAreIgnored()
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
    QCOMPARE(log().mid(1), QStringList({"Disconnected!", "Connected!"}));
    QTRY_COMPARE(commandsSeenBy(0).size(), 4);
    QTest::qWait(500);
    QCOMPARE(commandsSeenBy(0).size(), 4); // 3, 2, then 3, 2: one scan, no read, no write
}

void DeviceFlowsTest::unplugDuringRead()
{
    expectConnected();
    click("readButton");
    QVERIFY(bench(QStringLiteral("unplug"), 0)); // the logger answers 200 ms late
    QTRY_COMPARE_WITH_TIMEOUT(log().last(), QStringLiteral("Disonnected!"), 3000);
    QTest::qWait(300);
    QVERIFY(child<QLineEdit>("deviceTime")->text().isEmpty()
            || child<QLineEdit>("deviceTime")->text().size() == 19);
    click("setConfigButton");
    QCOMPARE(log().last(), QStringLiteral("No Device Connected!"));
}

void DeviceFlowsTest::unplugJustBeforeWrite()
{
    expectConnected();
    QVERIFY(bench(QStringLiteral("unplug"), 0));
    click("setConfigButton");
    // The watch may not have run yet: either nothing was written, or the write is reported as
    // it happened; a port whose device node is gone cannot take the bytes.
    const QString outcome = log().last();
    QVERIFY2(outcome == QLatin1String("Device Configured!")
                 || outcome == QLatin1String("Device Not Configured!")
                 || outcome == QLatin1String("Disonnected!")
                 || outcome == QLatin1String("No Device Connected!"),
             qPrintable(outcome));
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(QStringLiteral("Disonnected!")), 3000);
}

void DeviceFlowsTest::portHeldByAnotherProgram()
{
    // Another program holds the port the way serial programs do, by its lock file.
    QProcess holder;
    holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    QVERIFY(holder.waitForStarted());
    const QString lockPath = QStringLiteral("/run/lock/LCK..ttyACM0");
    QFile lock(lockPath);
    QVERIFY(lock.open(QIODevice::WriteOnly));
    // The lock counts while its process runs under the name it gives and on this host.
    lock.write(QByteArray::number(holder.processId()) + "\nsleep\n"
               + QSysInfo::machineHostName().toUtf8() + '\n');
    lock.close();

    openWindow();
    expectNoLogger();
    QVERIFY(commandsSeenBy(0).isEmpty());

    holder.kill();
    holder.waitForFinished();
    QFile::remove(lockPath);
    click("ConnectButton");
    QCOMPARE(log().last(), QStringLiteral("Connected!"));
}

void DeviceFlowsTest::unplugDuringIdentification()
{
    // The logger answers 200 ms late and is pulled out 50 ms into the wait. Either the answer
    // still came (the port stays open) and the watch then reports the unplug, or nothing
    // connected; never a connection that stays up.
    QTimer::singleShot(50, this, [this] { bench(QStringLiteral("unplug"), 0); });
    openWindow();
    const QStringList atStart = log();
    if (atStart.first() == QLatin1String("Connected!"))
        QTRY_COMPARE_WITH_TIMEOUT(log(), QStringList({"Connected!", "Disonnected!"}), 3000);
    else
        QCOMPARE(atStart, QStringList {QStringLiteral("No Device Connected!")});
    QCOMPARE(deviceConnected, 0);
    QVERIFY(!serialPort->isOpen());
}

void DeviceFlowsTest::portWithoutPermission()
{
    // Run without the capability to override file permissions (see the test's command), so
    // a device node without read and write permission cannot be opened, as for a desktop user
    // without the udev rule.
    const QString node = QStringLiteral("/dev/ttyACM0");
    const QFile::Permissions usual = QFile::permissions(node);
    QVERIFY(QFile::setPermissions(node, QFile::Permissions()));
    openWindow();
    expectNoLogger();
    QVERIFY(commandsSeenBy(0).isEmpty());

    QVERIFY(QFile::setPermissions(node, usual));
    click("ConnectButton");
    QCOMPARE(log().last(), QStringLiteral("Connected!"));
}

QTEST_MAIN(DeviceFlowsTest)
#include "tst_deviceflows.moc"
