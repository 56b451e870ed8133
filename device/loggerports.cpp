#include "device/loggerports.h"

#include "device/loggerprotocol.h"

#include <QSerialPort>

#include <algorithm>

bool isLoggerPort(const QSerialPortInfo &port)
{
    return port.vendorIdentifier() == LoggerProtocol::kVendorId
        && port.productIdentifier() == LoggerProtocol::kProductId;
}

void configureLoggerPort(QSerialPort &port, const QSerialPortInfo &info)
{
    port.setPort(info);
    port.setBaudRate(LoggerProtocol::kBaudRate, QSerialPort::AllDirections);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}

namespace {
std::function<bool(const QString &)> &presenceProbe()
{
    static std::function<bool(const QString &)> probe;
    return probe;
}
} // namespace

void setPortPresenceProbe(std::function<bool(const QString &portName)> probe)
{
    presenceProbe() = std::move(probe);
}

bool loggerPortPresent(const QString &portName)
{
    if (presenceProbe())
        return presenceProbe()(portName);
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    return std::any_of(ports.cbegin(), ports.cend(), [&portName](const QSerialPortInfo &port) {
        return port.portName() == portName && isLoggerPort(port);
    });
}
