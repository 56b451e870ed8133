#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/devicestate.h"
#include "device/configcommand.h"
#include "device/loggerprotocol.h"
#include "device/replyassembler.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QSerialPort>

namespace {
bool writeWhole(QSerialPort *port, const QByteArray &data)
{
    if (!port->isOpen())
        return false;
    port->clearError(); // judge this write only
    if (port->write(data) != data.size())
        return false;
    QElapsedTimer elapsed;
    elapsed.start();
    while (port->bytesToWrite() > 0) {
        const int left = LoggerProtocol::kWriteTimeoutMs - int(elapsed.elapsed());
        if (left <= 0 || !port->waitForBytesWritten(left))
            return false;
    }
    return port->error() == QSerialPort::NoError;
}
} // namespace

bool MainWindow::buildConfigCommand()
{
    LoggerConfig config;
    config.fahrenheit = ui->fahrenheitScale->isChecked();
    config.alarmEnabled = ui->enableAlarmConfig->isChecked();
    config.alarmUpper = ui->alarmUpper->text();
    config.alarmLower = ui->alarmLower->text();
    config.startHours = ui->startHours->currentText();
    config.startMinutes = ui->startMinutes->currentText();
    config.logHours = ui->logHours->currentText();
    config.logMinutes = ui->logMinutes->currentText();
    config.pdf = !ui->csvFormat->isChecked();
    config.zone = ui->timezoneHours->currentText();

    const QByteArray command = configurationCommand(config, QDateTime::currentDateTime());
    if (command.isEmpty())
        return false;
    writeData.clear();
    writeData.append(command);
    // From here on, whatever the logger sends is taken as an answer to this command: ignored.
    currentReply().begin(writeData.at(0));
    return true;
}

void MainWindow::setDeviceConfig()
{
    // A press from inside a scan or a reply wait would replace the command whose answer that
    // wait expects.
    if (linkBusy)
        return;
    if (!buildConfigCommand()) {
        logMessage(QStringLiteral("Invalid Temperature value!"));
        return;
    }

    if (!deviceConnected) {
        logMessage(QStringLiteral("No Device Connected!"));
        return;
    }
    logMessage(writeWhole(serialPort, writeData) ? QStringLiteral("Device Configured!")
                                                 : QStringLiteral("Device Not Configured!"));
}
