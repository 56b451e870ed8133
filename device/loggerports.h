#pragma once

#include <QList>
#include <QSerialPortInfo>

/// True for a port that carries the logger's USB vendor and product identifiers.
bool isLoggerPort(const QSerialPortInfo &port);

/// The ports present that carry the logger's identifiers, in the platform's order.
QList<QSerialPortInfo> loggerPorts();

/// True while the port named portName is listed with the logger's identifiers.
bool loggerPortPresent(const QString &portName);
