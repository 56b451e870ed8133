#include "loggersimulator.h"

#include "device/loggerprotocol.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QSignalSpy>
#include <QtTest>

Q_DECLARE_METATYPE(LoggerSimulatorOptions)

namespace {

constexpr int kTimeout = 10000;
const QByteArray kCode(LoggerProtocol::kIdentificationCode);
const QByteArray kExample1 = "10006000500300010114250705122026+0530";
const QByteArray kExample2 = "111085-0502150130109050001012027+0530";
const QDateTime kKnownClock(QDate(2026, 12, 5), QTime(14, 25, 7), Qt::UTC);
// The power-up settings with the clock at kKnownClock, as the configuration reply.
const QByteArray kDefaultReply = "000060005003000101"
                                 "14250705122026"
                                 "+0530";

// A simulator with a hand-driven clock, and the tool's side of the line: a QSerialPort on the
// slave, keeping every delivery apart.
struct Line
{
    explicit Line(const LoggerSimulatorOptions &options = {})
        : sim(options)
    {
        sim.setElapsedSource([this] { return elapsedMs; });
        sim.setClock(kKnownClock);
        QObject::connect(&port, &QSerialPort::readyRead, &port,
                         [this] { deliveries.append(port.readAll()); });
    }

    bool open()
    {
        if (!sim.isRunning() && !sim.start())
            return false;
        port.setPortName(sim.slavePath());
        port.setBaudRate(LoggerProtocol::kBaudRate);
        port.setDataBits(QSerialPort::Data8);
        port.setParity(QSerialPort::NoParity);
        port.setStopBits(QSerialPort::OneStop);
        port.setFlowControl(QSerialPort::NoFlowControl);
        return port.open(QIODevice::ReadWrite);
    }

    QByteArray received() const
    {
        QByteArray all;
        for (const QByteArray &delivery : deliveries)
            all += delivery;
        return all;
    }

    qint64 elapsedMs = 0;
    LoggerSimulator sim;
    QSerialPort port;
    QVector<QByteArray> deliveries;
};

} // namespace

class TestLoggerSim : public QObject
{
    Q_OBJECT

private slots:
    void answersRequests_data();
    void answersRequests();
    void storesConfigAndRunsClock_data();
    void storesConfigAndRunsClock();
    void portCanBeReopened();
    void faultyReplies_data();
    void faultyReplies();
    void silent();
    void flood();
    void unplug_data();
    void unplug();
};

void TestLoggerSim::answersRequests_data()
{
    QTest::addColumn<QByteArray>("deviceId");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("identification") << QByteArray() << QByteArray("3") << kCode;
    QTest::newRow("device id, default")
        << QByteArray() << QByteArray("2") << QByteArray("TL-0001\0", 8);
    QTest::newRow("device id, configured")
        << QByteArray("Kühlraum 7") << QByteArray("2") << QByteArray("Kühlraum 7\0", 12);
    QTest::newRow("configuration read") << QByteArray() << QByteArray("0") << kDefaultReply;
    QTest::newRow("coalesced requests")
        << QByteArray() << QByteArray("320") << kCode + QByteArray("TL-0001\0", 8) + kDefaultReply;
}

void TestLoggerSim::answersRequests()
{
    QFETCH(QByteArray, deviceId);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);

    LoggerSimulatorOptions options;
    if (!deviceId.isEmpty())
        options.deviceId = deviceId;
    Line line(options);
    QVERIFY(line.open());
    line.port.write(request);
    QTRY_VERIFY_WITH_TIMEOUT(line.received().size() >= reply.size(), kTimeout);
    QCOMPARE(line.received(), reply);
}

void TestLoggerSim::storesConfigAndRunsClock_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<qint64>("laterMs");
    QTest::addColumn<QByteArray>("clock");

    const qint64 day = 24 * 3600 * 1000;
    QTest::newRow("first example, 61 s later")
        << kExample1 << qint64(61000) << QByteArray("14260805122026");
    QTest::newRow("first example, into the next year")
        << kExample1 << 27 * day << QByteArray("14250701012027");
    QTest::newRow("second example, past midnight")
        << kExample2 << qint64((14 * 60 + 55) * 60 * 1000) << QByteArray("00000002012027");
    QTest::newRow("second example, to a leap day")
        << kExample2 << 424 * day << QByteArray("09050029022028");
    // Settings are taken; a clock that is no date leaves the running clock alone.
    QTest::newRow("impossible clock") << kExample2.left(18) + "09056101012027" + "-0330"
                                      << qint64(1000) << QByteArray("14250805122026");
}

void TestLoggerSim::storesConfigAndRunsClock()
{
    QFETCH(QByteArray, command);
    QFETCH(qint64, laterMs);
    QFETCH(QByteArray, clock);

    Line line;
    QSignalSpy received(&line.sim, &LoggerSimulator::commandReceived);
    QVERIFY(line.open());
    line.port.write(command);
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, kTimeout);
    QCOMPARE(line.sim.storedConfig(), command);
    QVERIFY(line.deliveries.isEmpty());

    line.elapsedMs += laterMs;
    line.port.write("0");
    QTRY_VERIFY_WITH_TIMEOUT(line.received().size() >= LoggerProtocol::kConfigLength, kTimeout);
    const QByteArray reply = line.received();
    QCOMPARE(reply.size(), LoggerProtocol::kConfigLength);
    QCOMPARE(reply.at(0), LoggerProtocol::kConfigReadRequest);
    QCOMPARE(reply.mid(1, 17), command.mid(1, 17));
    QCOMPARE(reply.mid(18, 14), clock);
    QCOMPARE(reply.mid(32), command.mid(32));
}

void TestLoggerSim::portCanBeReopened()
{
    Line line;
    for (int round = 0; round < 3; ++round) {
        QVERIFY2(line.open(), qPrintable(line.port.errorString()));
        line.deliveries.clear();
        line.port.write("3");
        QTRY_COMPARE_WITH_TIMEOUT(line.received(), kCode, kTimeout);
        line.port.close();
    }
    QVERIFY(line.sim.isRunning());
}

void TestLoggerSim::faultyReplies_data()
{
    QTest::addColumn<LoggerSimulatorOptions>("options");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("deliveries");

    LoggerSimulatorOptions options;
    options.latencyMs = 300;
    QTest::newRow("latency") << options << QByteArray("0") << kDefaultReply << 1;

    // The pause is long so that the halves cannot meet in one read.
    options = {};
    options.splitPauseMs = 500;
    QTest::newRow("split") << options << QByteArray("3") << kCode << 2;
    options.latencyMs = 100;
    QTest::newRow("latency and split") << options << QByteArray("0") << kDefaultReply << 2;

    options = {};
    options.identificationCode = "57402105";
    QTest::newRow("wrong identification")
        << options << QByteArray("3") << QByteArray("57402105") << 1;

    options = {};
    options.trailingBytes = 3;
    QTest::newRow("trailing bytes")
        << options << QByteArray("2") << QByteArray("TL-0001\0~~~", 11) << 1;

    options = {};
    options.truncateConfigReply = 20;
    QTest::newRow("truncated") << options << QByteArray("0") << kDefaultReply.left(20) << 1;

    options = {};
    options.badFields = true;
    QTest::newRow("bad fields") << options << QByteArray("0")
                                << QByteArray("0x7abcabc00770077x14250705122026+9999") << 1;
}

void TestLoggerSim::faultyReplies()
{
    QFETCH(LoggerSimulatorOptions, options);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, deliveries);

    Line line(options);
    QVERIFY(line.open());
    QElapsedTimer sinceRequest;
    sinceRequest.start();
    line.port.write(request);
    QTRY_VERIFY_WITH_TIMEOUT(line.received().size() >= reply.size(), kTimeout);
    // A lower bound only: the reply cannot come before the simulator's own timer fired.
    QVERIFY(sinceRequest.elapsed() >= options.latencyMs);
    QCOMPARE(line.received(), reply);
    QCOMPARE(line.deliveries.size(), deliveries);
}

void TestLoggerSim::silent()
{
    LoggerSimulatorOptions options;
    options.silent = true;
    Line line(options);
    QSignalSpy received(&line.sim, &LoggerSimulator::commandReceived);
    QSignalSpy sent(&line.sim, &LoggerSimulator::bytesSent);
    QVERIFY(line.open());
    line.port.write("320");
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 3, kTimeout);
    QTest::qWait(200);
    QCOMPARE(sent.count(), 0);
    QVERIFY(line.deliveries.isEmpty());
}

void TestLoggerSim::flood()
{
    LoggerSimulatorOptions options;
    options.floodIntervalMs = 10;
    options.floodBurstBytes = 5;
    Line line(options);
    QVERIFY(line.open());
    QTRY_VERIFY_WITH_TIMEOUT(line.deliveries.size() >= 3, kTimeout);
    const QByteArray noise = line.received();
    QCOMPARE(noise.count('#'), noise.size());
}

void TestLoggerSim::unplug_data()
{
    QTest::addColumn<int>("afterMs");
    QTest::newRow("by timer") << 100;
    QTest::newRow("by call") << 0;
}

void TestLoggerSim::unplug()
{
    QFETCH(int, afterMs);

    LoggerSimulatorOptions options;
    options.unplugAfterMs = afterMs;
    Line line(options);
    QSignalSpy unplugged(&line.sim, &LoggerSimulator::unplugged);
    QVERIFY(line.open());
    const QString path = line.sim.slavePath();
    QVERIFY(QFileInfo::exists(path));
    if (afterMs == 0)
        line.sim.unplug();

    QTRY_COMPARE_WITH_TIMEOUT(unplugged.count(), 1, kTimeout);
    QVERIFY(!line.sim.isRunning());
    // The port reports the hangup as a read error (EIO) until it is closed.
    QTRY_VERIFY_WITH_TIMEOUT(line.port.error() != QSerialPort::NoError, kTimeout);
    line.port.close();
    QVERIFY(!QFileInfo::exists(path));
    line.sim.unplug();
    QCOMPARE(unplugged.count(), 1);
}

QTEST_GUILESS_MAIN(TestLoggerSim)
#include "tst_loggersim.moc"
