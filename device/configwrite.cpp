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
// The whole command must have left the port within this time to count as written.
constexpr int kWriteTimeoutMs = 500;

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
        const int left = kWriteTimeoutMs - int(elapsed.elapsed());
        if (left <= 0 || !port->waitForBytesWritten(left))
            return false;
    }
    return port->error() == QSerialPort::NoError;
}
} // namespace

bool MainWindow::buildConfigCommand()
{
    ConfigFields fields;
    fields.fahrenheit = ui->fahrenheitScale->isChecked();
    fields.alarmEnabled = ui->enableAlarmConfig->isChecked();
    fields.alarmUpper = ui->alarmUpper->text();
    fields.alarmLower = ui->alarmLower->text();
    fields.startHours = ui->startHours->currentText();
    fields.startMinutes = ui->startMinutes->currentText();
    fields.logHours = ui->logHours->currentText();
    fields.logMinutes = ui->logMinutes->currentText();
    fields.pdf = !ui->csvFormat->isChecked();
    fields.zone = ui->timezoneHours->currentText();

    const QByteArray command = configurationCommand(fields, QDateTime::currentDateTime());
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
