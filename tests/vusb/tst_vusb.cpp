// Runs inside tempyra-vusb (see CMakeLists.txt) with two loggers, a third that unplugs itself, a
// plain serial port and a USB adapter of another vendor, on a host that has a /dev/ttyACM0 of
// its own. Checks that Qt's own enumeration and QSerialPort see the bench's ports as real
// hardware, and that unplugging and plugging in again through the bench are noticed.

#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QtTest>

namespace {

QSerialPortInfo listed(const QString &name)
{
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        if (info.portName() == name)
            return info;
    return {};
}

bool bench(const char *action)
{
    const QStringList arguments {QLatin1String(action), QStringLiteral("0")};
    return QProcess::execute(qEnvironmentVariable("TEMPYRA_VUSB_CTL"), arguments) == 0;
}

// The answer to the identification request on ttyACM0; empty when it does not open.
QByteArray identify()
{
    QSerialPort port(QStringLiteral("ttyACM0"));
    if (!port.open(QIODevice::ReadWrite))
        return {};
    port.write("3");
    QByteArray answer;
    while (answer.size() < 8 && port.waitForReadyRead(2000))
        answer += port.readAll();
    return answer;
}

} // namespace

class TestVirtualUsb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void portsCarryTheirUsbIdentity_data();
    void portsCarryTheirUsbIdentity();
    void unplugAndReplug();
    void simulatorThatUnplugsItselfDisappears();
};

void TestVirtualUsb::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("TEMPYRA_VUSB_DIR"))
        QSKIP("not on the virtual USB bench: run through tempyra-vusb (TEMPYRA_VUSB_DIR unset)");
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names << info.portName();
    names.removeAll(QStringLiteral("ttyACM2")); // it may have unplugged itself already
    names.sort();
    QCOMPARE(names, QStringList({"ttyACM0", "ttyACM1", "ttyS4", "ttyUSB0"}));
}

void TestVirtualUsb::portsCarryTheirUsbIdentity_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("product");
    QTest::newRow("logger") << "ttyACM0" << 0x0483 << 0x5740;
    QTest::newRow("second logger") << "ttyACM1" << 0x0483 << 0x5740;
    QTest::newRow("plain serial port") << "ttyS4" << 0 << 0;
    QTest::newRow("other vendor's adapter") << "ttyUSB0" << 0x0403 << 0x6001;
}

void TestVirtualUsb::portsCarryTheirUsbIdentity()
{
    QFETCH(QString, name);
    QFETCH(int, vendor);
    QFETCH(int, product);
    const QSerialPortInfo info = listed(name);
    QCOMPARE(info.systemLocation(), QStringLiteral("/dev/") + name);
    QCOMPARE(info.hasVendorIdentifier(), vendor != 0);
    QCOMPARE(int(info.vendorIdentifier()), vendor);
    QCOMPARE(int(info.productIdentifier()), product);
}

void TestVirtualUsb::unplugAndReplug()
{
    QCOMPARE(identify(), QByteArray("57402104")); // the bench's logger, not the host's port
    QVERIFY(bench("unplug"));
    QVERIFY(listed(QStringLiteral("ttyACM0")).isNull());
    QVERIFY(!QFile::exists(QStringLiteral("/dev/ttyACM0")));
    QVERIFY(!listed(QStringLiteral("ttyACM1")).isNull());

    QVERIFY(bench("replug"));
    QCOMPARE(listed(QStringLiteral("ttyACM0")).vendorIdentifier(), quint16(0x0483));
    QCOMPARE(identify(), QByteArray("57402104"));
}

void TestVirtualUsb::simulatorThatUnplugsItselfDisappears()
{
    QTRY_VERIFY_WITH_TIMEOUT(listed(QStringLiteral("ttyACM2")).isNull()
                                 && !QFile::exists(QStringLiteral("/dev/ttyACM2")),
                             30000);
}

QTEST_GUILESS_MAIN(TestVirtualUsb)
#include "tst_vusb.moc"
