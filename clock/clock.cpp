#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/devicestate.h"
#include "clock/timezones.h"
#include "device/loggerports.h"

#include <QDateTime>
#include <QSerialPort>
#include <QTimeZone>

void MainWindow::fillTimeZones()
{
    for (const QByteArray &zone : TimeZones::offeredZones(QTimeZone::availableTimeZoneIds()))
        ui->timezoneHours->addItem(QString::fromLatin1(zone));
    const int index = ui->timezoneHours->findText(QLatin1String(TimeZones::kDefaultZone),
                                                  Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        ui->timezoneHours->setCurrentIndex(index);
}

void MainWindow::showTime()
{
    const QDateTime now = QDateTime::currentDateTime();
    ui->systemTime->setText(TimeZones::wallClock(now, ui->timezoneHours->currentText()));

    if (deviceConnected != 1)
        return;
    // Watch the port that is connected, not any port with the logger's identifiers: a second
    // logger left plugged in must not hide the unplugging of this one. A port closed after a
    // resource error counts as gone too.
    if (serialPort->isOpen() && loggerPortPresent(serialPort->portName()))
        return;

    serialPort->close();
    ui->deviceID->setText(QString());
    ui->ConnectButton->setText(QStringLiteral("Connect"));
    deviceConnected = 0;
    deviceIdentified = 0;
    ui->StatusLabel->append(now.toString(QStringLiteral("hh:mm:ss:zzz")) + QLatin1String(" : ")
                            + QStringLiteral("Disonnected!"));
}
