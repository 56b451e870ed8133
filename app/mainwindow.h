#pragma once

#include <QMainWindow>

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private slots:
    void handleBytesWritten(qint64 bytes);
    void serialReceived();
    void connectDevice();
    void getDeviceConfig();
    void setDeviceConfig();
    void showTime();
    void intervalCheck();
    void clickedAbout();

private:
    // Activity log and pacing (device/activitylog.cpp).
    void startLogEntry();
    void logMessage(const QString &message);
    void waitMs(int ms);
    void waitForReply(int timeoutMs, int quietMs = 0);
    void waitForQuietLine();

    // Logger link (device/discovery.cpp).
    void runConnectionScan();
    void sendCommand(const QByteArray &command);

    // Commands and replies (device/configwrite.cpp, device/replies.cpp).
    bool buildConfigCommand();
    void checkIdentificationReply();
    void applyConfigurationReply();

    // Zones and rules (clock/clock.cpp, clock/formrules.cpp).
    void fillTimeZones();
    void installAlarmValidator();

    Ui::MainWindow *ui;
};
