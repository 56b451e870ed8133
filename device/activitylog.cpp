#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/devicestate.h"
#include "device/linesettler.h"
#include "device/replyassembler.h"

#include <QDateTime>
#include <QEventLoop>
#include <QSerialPort>
#include <QTextCursor>
#include <QTimer>

void MainWindow::startLogEntry()
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss:zzz"))
        + QLatin1String(" : ");
    ui->StatusLabel->append(stamp);
    QTextCursor cursor = ui->StatusLabel->textCursor();
    cursor.movePosition(QTextCursor::End);
    ui->StatusLabel->setTextCursor(cursor);
}

void MainWindow::logMessage(const QString &message)
{
    startLogEntry();
    ui->StatusLabel->insertPlainText(message);
}

void MainWindow::waitMs(int ms)
{
    if (ms <= 0)
        return;
    // An event loop with a timer: events keep flowing during the pause without busying a core.
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

void MainWindow::waitForReply(int timeoutMs, int quietMs)
{
    if (currentReply().isComplete() || !serialPort->isOpen())
        return;

    QEventLoop loop;
    // Precise timers: a coarse one may end the wait up to 5 % early.
    QTimer deadline;
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);

    // With quietMs set, a reply that has begun and then stops arriving for that long counts as
    // finished too; the logger's identifier has no fixed length and its closing 0x00 byte is
    // optional. Silence before the first byte is only a slow logger.
    QTimer quiet;
    quiet.setTimerType(Qt::PreciseTimer);
    quiet.setSingleShot(true);
    connect(&quiet, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto restartQuiet = [&quiet, quietMs] {
        if (quietMs > 0 && currentReply().hasBegun())
            quiet.start(quietMs);
    };
    restartQuiet();

    // Connected after serialReceived, so it runs once that slot has taken the delivery.
    connect(serialPort, &QSerialPort::readyRead, &loop, [&loop, &restartQuiet] {
        if (currentReply().isComplete())
            loop.quit();
        else
            restartQuiet();
    });
    // The port closing under the wait (the presence watch noticed an unplug) ends it too.
    connect(serialPort, &QSerialPort::aboutToClose, &loop, &QEventLoop::quit);

    loop.exec();
}

void MainWindow::waitForQuietLine()
{
    QEventLoop loop;
    connect(lineSettler, &LineSettler::settled, &loop, &QEventLoop::quit);
    // The port closing under the wait (its line died) ends it too, and stops the settler.
    connect(serialPort, &QSerialPort::aboutToClose, &loop, &QEventLoop::quit);
    lineSettler->settle();
    if (lineSettler->isSettling())
        loop.exec();
}
