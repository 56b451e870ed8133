#include "device/loggerports.h"
#include "device/loggerports_p.h"

#include "device/loggerprotocol.h"

#include <QSerialPort>

#include <algorithm>

bool isLoggerPort(const QSerialPortInfo &port)
{
    return port.vendorIdentifier() == LoggerProtocol::kVendorId
        && port.productIdentifier() == LoggerProtocol::kProductId;
}

void configureLoggerPort(QSerialPort &port, const QString &location)
{
    port.setPortName(location);
    port.setBaudRate(LoggerProtocol::kBaudRate, QSerialPort::AllDirections);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}

QString portLocation(const QString &nameOrLocation)
{
#ifdef Q_OS_WIN
    const QString prefix = QStringLiteral("\\\\.\\");
    if (nameOrLocation.startsWith(prefix) || nameOrLocation.startsWith(QLatin1String("//./")))
        return nameOrLocation;
#else
    const QString prefix = QStringLiteral("/dev/");
    if (nameOrLocation.startsWith(QLatin1Char('/')))
        return nameOrLocation;
#endif
    return prefix + nameOrLocation;
}

QList<QSerialPortInfo> loggerPorts()
{
    if (!LoggerPorts::mayListLogger())
        return {};
    QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    ports.erase(std::remove_if(ports.begin(), ports.end(),
                               [](const QSerialPortInfo &port) { return !isLoggerPort(port); }),
                ports.end());
    return ports;
}

std::optional<QSerialPortInfo> listedPort(const QString &nameOrLocation)
{
    const QString location = portLocation(nameOrLocation);
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        if (port.portName() == nameOrLocation || port.systemLocation() == location)
            return port;
    return std::nullopt;
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
