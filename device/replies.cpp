#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/devicestate.h"
#include "device/configreply.h"
#include "device/loggerprotocol.h"
#include "device/replyassembler.h"

#include <QSerialPort>

void MainWindow::serialReceived()
{
    readData = serialPort->readAll();

    const char command = writeData.isEmpty() ? '\0' : writeData.at(0);
    switch (command) {
    case LoggerProtocol::kIdentificationRequest:
        if (currentReply().feed(readData) && currentReply().isComplete())
            checkIdentificationReply();
        break;
    case LoggerProtocol::kDeviceIdRequest:
        // The identifier shows as far as it has arrived.
        if (currentReply().feed(readData))
            ui->deviceID->setText(QString::fromUtf8(currentReply().bytes()));
        break;
    case LoggerProtocol::kConfigCommand:
        break;
    case LoggerProtocol::kConfigReadRequest:
        if (currentReply().feed(readData) && currentReply().isComplete())
            applyConfigurationReply();
        break;
    default:
        ui->StatusLabel->insertPlainText(QStringLiteral("Invalid Command!"));
        break;
    }
}

void MainWindow::checkIdentificationReply()
{
    const QByteArray &reply = currentReply().bytes();
    deviceIdentified = reply.startsWith(LoggerProtocol::kIdentificationCode) ? 1 : 0;
}

void MainWindow::applyConfigurationReply()
{
    const std::optional<ConfigurationReply> reply
        = decodeConfigurationReply(currentReply().bytes());
    if (!reply)
        return;
    const LoggerConfig *config = &reply->config;

    if (config->fahrenheit)
        (*config->fahrenheit ? ui->fahrenheitScale : ui->celsiusScale)->setChecked(true);
    if (config->alarmEnabled)
        ui->enableAlarmConfig->setChecked(*config->alarmEnabled);
    if (config->pdf)
        (*config->pdf ? ui->pdfFormat : ui->csvFormat)->setChecked(true);
    ui->alarmUpper->setText(config->alarmUpper);
    ui->alarmLower->setText(config->alarmLower);

    const auto select = [](QComboBox *box, const QString &text) {
        const int index = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0)
            box->setCurrentIndex(index);
    };
    select(ui->startHours, config->startHours);
    select(ui->startMinutes, config->startMinutes);
    select(ui->logHours, config->logHours);
    select(ui->logMinutes, config->logMinutes);
    ui->deviceTime->setText(deviceTimeText(reply->clock));
    select(ui->timezoneHours, config->zone);
}
