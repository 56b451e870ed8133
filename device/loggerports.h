#pragma once

#include <QList>
#include <QSerialPortInfo>

#include <functional>
#include <optional>

class QSerialPort;

/// True for a port that carries the logger's USB vendor and product identifiers.
bool isLoggerPort(const QSerialPortInfo &port);

/// Points port at the port of that name or system location and sets the logger's line: 230400
/// baud both ways, 8 data bits, no parity, one stop bit, no flow control. The port is not opened.
void configureLoggerPort(QSerialPort &port, const QString &location);

/// The system location of a port named by a person, as QSerialPort opens it: ttyACM0 is
/// /dev/ttyACM0 and COM5 is \\.\COM5; a location stays as it is.
QString portLocation(const QString &nameOrLocation);

/// The ports the system lists with the logger's identifiers, in the system's order. Where a quick
/// look shows that no port can carry them, the system's enumeration is not run.
QList<QSerialPortInfo> loggerPorts();

/// A port named by a person (name or location), as the system lists it whatever its USB
/// identifiers; nothing when it is not listed.
std::optional<QSerialPortInfo> listedPort(const QString &nameOrLocation);

/// True while the port named portName is listed with the logger's identifiers.
bool loggerPortPresent(const QString &portName);

/// Lets a test decide what loggerPortPresent() answers, for ports the system cannot list
/// (a pseudo-terminal standing in for a logger); an empty function restores the system's answer.
void setPortPresenceProbe(std::function<bool(const QString &portName)> probe);
