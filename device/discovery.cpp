#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/devicestate.h"
#include "device/loggerports.h"
#include "device/loggerprotocol.h"
#include "device/replyassembler.h"

#include <QSerialPort>

namespace {
constexpr int kPacingMs = 1;

// Set for the length of a scan or a wait; presses that arrive from inside are dropped.
class BusyGuard
{
public:
    BusyGuard() { linkBusy = true; }
    ~BusyGuard() { linkBusy = false; }
    BusyGuard(const BusyGuard &) = delete;
    BusyGuard &operator=(const BusyGuard &) = delete;
};
} // namespace

void MainWindow::sendCommand(const QByteArray &command)
{
    // What comes from here on belongs to an earlier reply (a late or repeated one), not to the
    // start of this one: it is ignored until the line has settled and the command has gone out.
    currentReply().end();
    waitForQuietLine();
    if (!serialPort->isOpen())
        return; // the line died meanwhile
    writeData.clear();
    writeData.append(command);
    currentReply().begin(writeData.at(0));
    serialPort->write(writeData.constData(), writeData.size());
}

void MainWindow::runConnectionScan()
{
    // The ports with the logger's identifiers, in the system's order; any other is passed over.
    const QList<QSerialPortInfo> ports = loggerPorts();
    for (const QSerialPortInfo &port : ports) {
        configureLoggerPort(*serialPort, port.systemLocation());
        if (!serialPort->open(QIODevice::ReadWrite))
            continue;
        currentReply().reset(); // a new line: nothing before can come again on it

        deviceIdentified = 0;
        sendCommand(QByteArray(1, LoggerProtocol::kIdentificationRequest));
        waitForReply(LoggerProtocol::kReplyTimeoutMs);

        if (deviceIdentified == 1 && serialPort->isOpen()) {
            ui->ConnectButton->setText(QStringLiteral("Disconnect"));
            deviceConnected = 1;
            logMessage(QStringLiteral("Connected!"));
            sendCommand(QByteArray(1, LoggerProtocol::kDeviceIdRequest));
            return;
        }
        serialPort->close();
    }
    logMessage(QStringLiteral("No Device Connected!"));
}

void MainWindow::connectDevice()
{
    if (linkBusy)
        return;

    if (deviceConnected != 0) {
        serialPort->close();
        ui->deviceID->setText(QString());
        ui->ConnectButton->setText(QStringLiteral("Connect"));
        deviceConnected = 0;
        deviceIdentified = 0;
        logMessage(QStringLiteral("Disconnected!"));
        return;
    }

    BusyGuard busy;
    runConnectionScan();
}

void MainWindow::getDeviceConfig()
{
    if (linkBusy)
        return;
    BusyGuard busy;

    if (deviceConnected == 0) {
        runConnectionScan();
        if (deviceConnected == 0)
            return;
    }

    // Let the device identifier finish first: the configuration request starts a new reply.
    if (currentReply().command() == LoggerProtocol::kDeviceIdRequest
        && !currentReply().isComplete())
        waitForReply(LoggerProtocol::kReplyTimeoutMs, LoggerProtocol::kIdentifierQuietMs);
    else
        waitMs(kPacingMs);

    // The presence watch may have noticed an unplug during the wait, or the line died.
    if (deviceConnected == 0 || !serialPort->isOpen())
        return;

    logMessage(QStringLiteral("Reading Data"));
    sendCommand(QByteArray(1, LoggerProtocol::kConfigReadRequest));
}
