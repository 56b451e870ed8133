// Runs inside tempyra-vusb, started by CTest with two loggers, a third logger that unplugs itself,
// a plain serial port and a USB adapter of another vendor. Checks that Qt's own enumeration and
// QSerialPort see them as real hardware, and that unplugging through the bench is noticed.

#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QtTest>

namespace {

constexpr quint16 loggerVendor = 0x0483;
constexpr quint16 loggerProduct = 0x5740;

QString benchDir()
{
    return qEnvironmentVariable("TEMPYRA_VUSB_DIR");
}

bool isListed(const QString &portName, QSerialPortInfo *found = nullptr)
{
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        if (info.portName() == portName) {
            if (found)
                *found = info;
            return true;
        }
    }
    return false;
}

bool benchCtl(const QString &action, int port)
{
    return QProcess::execute(qEnvironmentVariable("TEMPYRA_VUSB_CTL"),
                             {action, QString::number(port)})
        == 0;
}

QByteArray simLog(int port)
{
    QFile log(benchDir() + QStringLiteral("/sim%1.log").arg(port));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

bool openLikeTheTool(QSerialPort &port, const QString &portName)
{
    port.setPortName(portName);
    port.setBaudRate(230400);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    return port.open(QIODevice::ReadWrite);
}

// Sends the identification request and collects the answer.
QByteArray identify(QSerialPort &port)
{
    QByteArray answer;
    port.write("3");
    for (int i = 0; i < 100 && answer.size() < 8; ++i) {
        if (port.waitForReadyRead(100))
            answer += port.readAll();
    }
    return answer;
}

} // namespace

class TestVirtualUsb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listsOnlyTheBenchPorts();
    void loggersCarryTheirUsbIdentity_data();
    void loggersCarryTheirUsbIdentity();
    void otherPortsKeepTheirOwnIdentity();
    void loggerAnswersOverTheBoundPort_data();
    void loggerAnswersOverTheBoundPort();
    void unplugAndReplug();
    void simulatorThatUnplugsItselfDisappears();
};

void TestVirtualUsb::initTestCase()
{
    if (benchDir().isEmpty())
        QSKIP("not on the virtual USB bench: run through tempyra-vusb (TEMPYRA_VUSB_DIR unset)");
    QVERIFY(QFile::exists(qEnvironmentVariable("TEMPYRA_VUSB_CTL")));
}

void TestVirtualUsb::listsOnlyTheBenchPorts()
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names << info.portName();
    names.sort();
    // ttyACM2 may already have unplugged itself.
    names.removeAll(QStringLiteral("ttyACM2"));
    QCOMPARE(names,
             QStringList({QStringLiteral("ttyACM0"), QStringLiteral("ttyACM1"),
                          QStringLiteral("ttyS4"), QStringLiteral("ttyUSB0")}));
}

void TestVirtualUsb::loggersCarryTheirUsbIdentity_data()
{
    QTest::addColumn<QString>("portName");
    QTest::newRow("first") << QStringLiteral("ttyACM0");
    QTest::newRow("second") << QStringLiteral("ttyACM1");
}

void TestVirtualUsb::loggersCarryTheirUsbIdentity()
{
    QFETCH(QString, portName);
    QSerialPortInfo info;
    QVERIFY(isListed(portName, &info));
    QVERIFY(info.hasVendorIdentifier());
    QVERIFY(info.hasProductIdentifier());
    QCOMPARE(info.vendorIdentifier(), loggerVendor);
    QCOMPARE(info.productIdentifier(), loggerProduct);
    QCOMPARE(info.systemLocation(), QStringLiteral("/dev/") + portName);
    QVERIFY(!info.description().isEmpty());
    QVERIFY(!info.manufacturer().isEmpty());

    // Two loggers of one model still differ by serial number.
    QSerialPortInfo first, second;
    QVERIFY(isListed(QStringLiteral("ttyACM0"), &first));
    QVERIFY(isListed(QStringLiteral("ttyACM1"), &second));
    QVERIFY(!first.serialNumber().isEmpty());
    QVERIFY(first.serialNumber() != second.serialNumber());
}

void TestVirtualUsb::otherPortsKeepTheirOwnIdentity()
{
    QSerialPortInfo plain;
    QVERIFY(isListed(QStringLiteral("ttyS4"), &plain));
    QVERIFY(!plain.hasVendorIdentifier());
    QVERIFY(!plain.hasProductIdentifier());
    QCOMPARE(plain.vendorIdentifier(), quint16(0));
    QCOMPARE(plain.productIdentifier(), quint16(0));

    QSerialPortInfo adapter;
    QVERIFY(isListed(QStringLiteral("ttyUSB0"), &adapter));
    QVERIFY(adapter.hasVendorIdentifier());
    QCOMPARE(adapter.vendorIdentifier(), quint16(0x0403));
    QCOMPARE(adapter.productIdentifier(), quint16(0x6001));
}

void TestVirtualUsb::loggerAnswersOverTheBoundPort_data()
{
    QTest::addColumn<QString>("portName");
    QTest::addColumn<int>("simIndex");
    QTest::newRow("first") << QStringLiteral("ttyACM0") << 0;
    QTest::newRow("second") << QStringLiteral("ttyACM1") << 1;
}

void TestVirtualUsb::loggerAnswersOverTheBoundPort()
{
    QFETCH(QString, portName);
    QFETCH(int, simIndex);
    const int linesBefore = simLog(simIndex).count('\n');

    QSerialPort port;
    QVERIFY2(openLikeTheTool(port, portName), qPrintable(port.errorString()));
    QCOMPARE(identify(port).left(8), QByteArray("57402104"));
    port.close();

    // The bench records what the simulator reports about the request.
    QTRY_VERIFY_WITH_TIMEOUT(simLog(simIndex).count('\n') > linesBefore, 10000);
}

void TestVirtualUsb::unplugAndReplug()
{
    QVERIFY(benchCtl(QStringLiteral("unplug"), 0));
    QVERIFY(!isListed(QStringLiteral("ttyACM0")));
    QVERIFY(isListed(QStringLiteral("ttyACM1")));
    QSerialPort gone;
    QVERIFY(!openLikeTheTool(gone, QStringLiteral("ttyACM0")));

    QVERIFY(benchCtl(QStringLiteral("replug"), 0));
    QSerialPortInfo info;
    QVERIFY(isListed(QStringLiteral("ttyACM0"), &info));
    QCOMPARE(info.vendorIdentifier(), loggerVendor);
    QSerialPort back;
    QVERIFY2(openLikeTheTool(back, QStringLiteral("ttyACM0")), qPrintable(back.errorString()));
    QCOMPARE(identify(back).left(8), QByteArray("57402104"));
}

void TestVirtualUsb::simulatorThatUnplugsItselfDisappears()
{
    QTRY_VERIFY_WITH_TIMEOUT(!isListed(QStringLiteral("ttyACM2")), 30000);
    QVERIFY(simLog(2).contains("unplugged"));
    QVERIFY(isListed(QStringLiteral("ttyACM0")));
}

QTEST_GUILESS_MAIN(TestVirtualUsb)
#include "tst_vusb.moc"
