#include "app/devicestate.h"

#include "device/replyassembler.h"

QSerialPort *serialPort = nullptr;
int deviceConnected = 0;
int deviceIdentified = 0;
QByteArray writeData;
QByteArray readData;
bool linkBusy = false;
LineSettler *lineSettler = nullptr;

ReplyAssembler &currentReply()
{
    static ReplyAssembler reply;
    return reply;
}

void resetDeviceState()
{
    serialPort = nullptr;
    deviceConnected = 0;
    deviceIdentified = 0;
    writeData.clear();
    readData.clear();
    linkBusy = false;
    lineSettler = nullptr;
    currentReply() = ReplyAssembler();
}
