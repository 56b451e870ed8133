// Runs inside tempyra-vusb (see CMakeLists.txt) with two loggers, a third that unplugs itself, a
// plain serial port and a USB adapter of another vendor, on a host that has a /dev/ttyACM0 of
// its own. Checks that Qt's own enumeration and QSerialPort see the bench's ports, and only
// those, as real hardware, and that unplugging and plugging in again behave as with hardware.

#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QtTest>

class TestVirtualUsb : public QObject
{
    Q_OBJECT

    // The ports listed, as "name vendor:product".
    static QStringList listed()
    {
        QStringList ports;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            ports << QStringLiteral("%1 %2:%3")
                         .arg(info.portName())
                         .arg(info.vendorIdentifier(), 0, 16)
                         .arg(info.productIdentifier(), 0, 16);
        ports.sort();
        return ports;
    }
    // Sends a request on the open port and collects up to length bytes of the answer.
    static QByteArray ask(QSerialPort &port, const QByteArray &request, int length)
    {
        QByteArray answer;
        if (port.write(request) == request.size() && port.waitForBytesWritten(2000))
            while (answer.size() < length && port.waitForReadyRead(2000))
                answer += port.readAll();
        return answer;
    }
    static bool bench(const char *action)
    {
        const QStringList arguments {QLatin1String(action), QStringLiteral("0")};
        return QProcess::execute(qEnvironmentVariable("TEMPYRA_VUSB_CTL"), arguments) == 0;
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("TEMPYRA_VUSB_DIR"))
            QSKIP("not on the virtual USB bench: run through tempyra-vusb");
    }

    void portsAndTheirUsbIdentity()
    {
        QStringList ports = listed();
        ports.removeAll(QStringLiteral("ttyACM2 483:5740")); // it may have unplugged itself
        QCOMPARE(
            ports,
            QStringList({"ttyACM0 483:5740", "ttyACM1 483:5740", "ttyS4 0:0", "ttyUSB0 403:6001"}));
    }

    void unplugAndReplug()
    {
        // Pulled out, the logger's open port fails at once and stays dead; plugged in again, it
        // is a new port, and the logger still holds the settings it was given.
        QSerialPort held(QStringLiteral("ttyACM0"));
        QVERIFY(held.open(QIODevice::ReadWrite));
        QCOMPARE(ask(held, "3", 8), QByteArray("57402104")); // the bench's logger, not the host's
        const QByteArray settings = "111085-05021501301";
        const QByteArray command = settings + "12000001012027-0300";
        QVERIFY(held.write(command) == 37 && held.waitForBytesWritten(2000));
        QVERIFY(bench("unplug"));
        QCOMPARE(ask(held, "3", 8), QByteArray());
        QCOMPARE(held.error(), QSerialPort::ResourceError);
        QVERIFY(!listed().contains(QStringLiteral("ttyACM0 483:5740")));
        QVERIFY(listed().contains(QStringLiteral("ttyACM1 483:5740")));
        QVERIFY(!QFile::exists(QStringLiteral("/dev/ttyACM0")));
        QVERIFY(bench("replug"));
        QVERIFY(listed().contains(QStringLiteral("ttyACM0 483:5740")));
        held.clearError();
        QCOMPARE(ask(held, "3", 8), QByteArray());
        held.close();
        QSerialPort replugged(QStringLiteral("ttyACM0"));
        QVERIFY(replugged.open(QIODevice::ReadWrite));
        QCOMPARE(ask(replugged, "3", 8), QByteArray("57402104"));
        const QByteArray reply = ask(replugged, "0", 37);
        QCOMPARE(reply.mid(1, 17) + reply.mid(32), settings.mid(1) + "-0300");
    }

    void simulatorThatUnplugsItselfDisappears()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!listed().contains(QStringLiteral("ttyACM2 483:5740"))
                                     && !QFile::exists(QStringLiteral("/dev/ttyACM2")),
                                 30000);
    }
};

QTEST_GUILESS_MAIN(TestVirtualUsb)
#include "tst_vusb.moc"
