// The window's link to a logger: on the virtual USB bench (tempyra-vusb), offscreen, or cross-built
// under Wine against a simulated logger that a device node makes a USB port (bench/windows.sh).
//
//   bench-link connect-read N   Disconnect, then Read (which connects first) until deviceTime is
//                               filled, N times; then, with the window's port closed, N times the
//                               reference: port scan, open, the round trips of "3", "2" and "0"
//                               with a plain QSerialPort, close; and N times the same reference
//                               waiting for a quiet line before "2" and "0", as the window does.
//   bench-link silent-wait N    Against a silent logger: CPU and wall time of N connection
//                               attempts, each of which waits out the identification bound.
//   bench-link scan N           N scans of the serial ports, the first step of every connection,
//                               and N of the quick look for a logger's port that comes first.

#include "app/devicestate.h"
#include "app/mainwindow.h"
#include "benchprobe.h"
#include "device/loggerports_p.h"
#include "device/loggerprotocol.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kWarmUp = 3;
constexpr int kGiveUpMs = 3000;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "bench-link: %s\n", what);
    std::exit(1);
}

template<class T> T *child(QWidget *window, const char *name)
{
    T *widget = window->findChild<T *>(QLatin1String(name));
    if (!widget)
        fail("the window lacks a widget this benchmark drives");
    return widget;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double msSince(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed() / 1e6;
}

// One look at the serial ports the system lists, in ms.
double scanPorts()
{
    QElapsedTimer timer;
    timer.start();
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    return msSince(timer);
}

// Runs the event loop until the line edit shows text, or gives up after kGiveUpMs.
bool waitForText(QLineEdit *edit)
{
    if (!edit->text().isEmpty())
        return true;
    QEventLoop loop;
    QObject::connect(edit, &QLineEdit::textChanged, &loop, [&loop](const QString &text) {
        if (!text.isEmpty())
            loop.quit();
    });
    QTimer::singleShot(kGiveUpMs, &loop, &QEventLoop::quit);
    loop.exec();
    return !edit->text().isEmpty();
}

int connectRead(int runs)
{
    auto window = std::make_unique<MainWindow>();
    window->show();
    if (deviceConnected != 1)
        fail("no logger connected at start-up (run on the bench with one --logger)");
    auto *connectButton = child<QPushButton>(window.get(), "ConnectButton");
    auto *readButton = child<QPushButton>(window.get(), "readButton");
    auto *deviceTime = child<QLineEdit>(window.get(), "deviceTime");

    std::vector<double> cycles, reads;
    for (int i = 0; i < kWarmUp + runs; ++i) {
        QElapsedTimer cycle;
        cycle.start();
        QTest::mouseClick(connectButton, Qt::LeftButton);
        if (deviceConnected != 0)
            fail("Connect did not disconnect");
        deviceTime->clear();
        QElapsedTimer read;
        read.start();
        QTest::mouseClick(readButton, Qt::LeftButton);
        if (!waitForText(deviceTime))
            fail("Read did not fill deviceTime");
        if (i >= kWarmUp) {
            reads.push_back(msSince(read));
            cycles.push_back(msSince(cycle));
        }
    }

    // The reference, with the window's port closed: what a minimal program with a plain
    // QSerialPort does for the same result. It scans the ports, takes the first with the
    // logger's USB identifiers, opens it with the same line settings, makes the same three
    // round trips and closes it again. Its second form waits, before each request that follows
    // an answer, until the line has been quiet for kLineQuietMs, and drops what came.
    QTest::mouseClick(connectButton, Qt::LeftButton);
    if (serialPort->isOpen())
        fail("the window's port is still open");
    QSerialPort raw;
    raw.setBaudRate(LoggerProtocol::kBaudRate, QSerialPort::AllDirections);
    raw.setDataBits(QSerialPort::Data8);
    raw.setParity(QSerialPort::NoParity);
    raw.setStopBits(QSerialPort::OneStop);
    raw.setFlowControl(QSerialPort::NoFlowControl);

    QByteArray answer;
    int length = 0; // the answer's length; 0 for one that ends at a zero byte
    bool settling = false;
    QEventLoop loop;
    QTimer quiet;
    quiet.setTimerType(Qt::PreciseTimer);
    quiet.setSingleShot(true);
    QObject::connect(&quiet, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&raw, &QSerialPort::readyRead, &loop, [&] {
        if (settling) {
            raw.readAll();
            quiet.start(LoggerProtocol::kLineQuietMs);
            return;
        }
        answer += raw.readAll();
        if (length > 0 ? answer.size() >= length : answer.contains('\0'))
            loop.quit();
    });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, &loop, &QEventLoop::quit);
    bool quietLine = false;
    const auto roundTrip = [&](char code, int answerLength) {
        if (quietLine && code != LoggerProtocol::kIdentificationRequest) {
            settling = true;
            quiet.start(LoggerProtocol::kLineQuietMs);
            loop.exec();
            settling = false;
            raw.clear(QSerialPort::Input);
        }
        answer.clear();
        length = answerLength;
        giveUp.start(kGiveUpMs);
        raw.write(QByteArray(1, code));
        loop.exec();
        return length > 0 ? answer.size() == length : answer.endsWith('\0');
    };

    std::vector<double> references, quietReferences;
    for (int i = 0; i < 2 * (kWarmUp + runs); ++i) {
        quietLine = i >= kWarmUp + runs;
        QElapsedTimer reference;
        reference.start();
        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        const auto logger = std::find_if(ports.cbegin(), ports.cend(), [](const auto &port) {
            return port.vendorIdentifier() == LoggerProtocol::kVendorId
                && port.productIdentifier() == LoggerProtocol::kProductId;
        });
        if (logger == ports.cend())
            fail("the reference found no logger");
        raw.setPort(*logger);
        if (!raw.open(QIODevice::ReadWrite))
            fail("cannot open the port for the reference");
        const bool answered = roundTrip(LoggerProtocol::kIdentificationRequest,
                                        LoggerProtocol::kIdentificationLength)
            && roundTrip(LoggerProtocol::kDeviceIdRequest, 0)
            && roundTrip(LoggerProtocol::kConfigReadRequest, LoggerProtocol::kConfigLength);
        raw.close();
        if (!answered)
            fail("the reference's round trips did not bring the whole answers");
        if (i % (kWarmUp + runs) >= kWarmUp)
            (quietLine ? quietReferences : references).push_back(msSince(reference));
    }

    // Where a connection's fixed cost goes: the port scan, and opening and closing the port.
    std::vector<double> scans, opens;
    for (int i = 0; i < kWarmUp + runs; ++i) {
        const double scanMs = scanPorts();
        QElapsedTimer open;
        open.start();
        if (!raw.open(QIODevice::ReadWrite))
            fail("cannot reopen the port");
        raw.close();
        if (i >= kWarmUp) {
            scans.push_back(scanMs);
            opens.push_back(msSince(open));
        }
    }

    BenchProbe::report("runs", qint64(runs));
    BenchProbe::report("cycle_ms", median(cycles));
    BenchProbe::report("read_press_ms", median(reads));
    BenchProbe::report("reference_ms", median(references));
    BenchProbe::report("reference_min_ms", *std::min_element(references.begin(), references.end()));
    BenchProbe::report("quiet_reference_ms", median(quietReferences));
    BenchProbe::report("quiet_line_ms", qint64(LoggerProtocol::kLineQuietMs));
    BenchProbe::report("cycle_min_ms", *std::min_element(cycles.begin(), cycles.end()));
    BenchProbe::report("scan_ms", median(scans));
    BenchProbe::report("open_close_ms", median(opens));
    return 0;
}

int scan(int runs)
{
    std::vector<double> scans, looks;
    bool mayList = true;
    for (int i = 0; i < kWarmUp + runs; ++i) {
        const double scanMs = scanPorts();
        QElapsedTimer timer;
        timer.start();
        mayList = LoggerPorts::mayListLogger();
        const double lookMs = msSince(timer);
        if (i >= kWarmUp) {
            scans.push_back(scanMs);
            looks.push_back(lookMs);
        }
    }
    BenchProbe::report("ports", qint64(QSerialPortInfo::availablePorts().size()));
    BenchProbe::report("scan_ms", median(scans));
    BenchProbe::report("look_ms", median(looks));
    BenchProbe::report("look_may_list", qint64(mayList));
    return 0;
}

int silentWait(int runs)
{
    qint64 cpuUs = BenchProbe::processCpuUs();
    QElapsedTimer wall;
    wall.start();
    auto window = std::make_unique<MainWindow>();
    BenchProbe::report("construct_cpu_ms", (BenchProbe::processCpuUs() - cpuUs) / 1000.0);
    BenchProbe::report("construct_wall_ms", msSince(wall));
    if (deviceConnected != 0)
        fail("a logger answered; run against --logger=--silent");

    std::vector<double> attempts;
    cpuUs = BenchProbe::processCpuUs();
    wall.restart();
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer attempt;
        attempt.start();
        QMetaObject::invokeMethod(window.get(), "connectDevice", Qt::DirectConnection);
        attempts.push_back(msSince(attempt));
        if (deviceConnected != 0)
            fail("a logger answered; run against --logger=--silent");
    }
    BenchProbe::report("runs", qint64(runs));
    BenchProbe::report("attempt_ms", median(attempts));
    BenchProbe::report("attempt_min_ms", *std::min_element(attempts.begin(), attempts.end()));
    BenchProbe::report("wait_cpu_ms", (BenchProbe::processCpuUs() - cpuUs) / 1000.0);
    BenchProbe::report("wait_wall_ms", msSince(wall));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString mode = arguments.value(1);
    const int runs = arguments.value(2, QStringLiteral("20")).toInt();
    if (runs < 1)
        fail("usage: bench-link connect-read|silent-wait|scan [RUNS]");
    if (mode == QLatin1String("connect-read"))
        return connectRead(runs);
    if (mode == QLatin1String("silent-wait"))
        return silentWait(runs);
    if (mode == QLatin1String("scan"))
        return scan(runs);
    fail("usage: bench-link connect-read|silent-wait|scan [RUNS]");
}
