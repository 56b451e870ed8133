#pragma once

#include <QList>
#include <QSerialPortInfo>

#include <functional>

/// True for a port that carries the logger's USB vendor and product identifiers.
bool isLoggerPort(const QSerialPortInfo &port);

/// True while the port named portName is listed with the logger's identifiers.
bool loggerPortPresent(const QString &portName);

/// Lets a test decide what loggerPortPresent() answers, for ports the system cannot list
/// (a pseudo-terminal standing in for a logger); an empty function restores the system's answer.
void setPortPresenceProbe(std::function<bool(const QString &portName)> probe);
