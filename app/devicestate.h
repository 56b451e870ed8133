#pragma once

#include <QByteArray>

class LineSettler;
class QSerialPort;
class ReplyAssembler;

// The link to the logger is process-wide state shared by the slots of MainWindow, which live in
// several source files; there is one logger link per process and one window.
extern QSerialPort *serialPort;
extern int deviceConnected; // 1 while a logger is connected
extern int deviceIdentified; // 1 once the identification answer matched
extern QByteArray writeData; // the last command composed; its first byte selects reply handling
extern QByteArray readData; // the latest delivery from the port

// The reply to the command written last, assembled across deliveries.
ReplyAssembler &currentReply();
// Holds each request back until serialPort's line has settled; a child of serialPort.
extern LineSettler *lineSettler;

// True while a connection scan or a reply wait is running, so that a press of Connect or Read
// arriving from inside that wait is ignored instead of starting a second scan.
extern bool linkBusy;

// Back to the start-up state, for tests that build one window after another.
void resetDeviceState();
