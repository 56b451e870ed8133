#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/devicestate.h"
#include "device/linesettler.h"

#include <QSerialPort>
#include <QTimer>

namespace {
constexpr int kTickMs = 1000;
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    serialPort = new QSerialPort(this);
    lineSettler = new LineSettler(serialPort, serialPort);
    connect(serialPort, SIGNAL(readyRead()), this, SLOT(serialReceived()));
    connect(serialPort, SIGNAL(bytesWritten(qint64)), this, SLOT(handleBytesWritten(qint64)));
    // A logger pulled out leaves the port failing on every read, hundreds of thousands of times
    // a second, until the presence watch runs; close it at once and let the watch report it.
    connect(serialPort, &QSerialPort::errorOccurred, this, [](QSerialPort::SerialPortError error) {
        if ((error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
            && serialPort->isOpen())
            serialPort->close();
    });

    setFixedSize(440, 655);
    ui->setupUi(this);

    connect(ui->setConfigButton, &QPushButton::clicked, this, &MainWindow::setDeviceConfig);
    connect(ui->ConnectButton, &QPushButton::clicked, this, &MainWindow::connectDevice);
    connect(ui->readButton, &QPushButton::clicked, this, &MainWindow::getDeviceConfig);
    connect(ui->timezoneHours, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::showTime);
    connect(ui->logHours, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::intervalCheck);
    connect(ui->menuAbout, SIGNAL(aboutToShow()), this, SLOT(clickedAbout()));

    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &MainWindow::showTime);
    timer->start(kTickMs);

    showTime();
    connectDevice();

    ui->logMinutes->setCurrentIndex(9);
    ui->startMinutes->setCurrentIndex(30);
    fillTimeZones();

    installAlarmValidator();
}

MainWindow::~MainWindow()
{
    delete ui;
    serialPort->close();
}

void MainWindow::handleBytesWritten(qint64 bytes)
{
    Q_UNUSED(bytes)
}
