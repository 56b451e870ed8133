#include "device/linesettler.h"

#include "device/loggerprotocol.h"

#include <QSerialPort>

namespace {
constexpr qint64 kNsPerMs = 1000000;
}

LineSettler::LineSettler(QSerialPort *port, QObject *parent)
    : QObject(parent)
    , m_port(port)
{
    // Precise: a coarse timer may fire up to 5 % early, and the quiet time is the whole point.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &LineSettler::check);
    connect(port, &QSerialPort::readyRead, this, [this] { m_lastByte.start(); });
    // Bytes heard before a close say nothing about the line after the next open; they are
    // dropped with the input when the port opens again.
    connect(port, &QSerialPort::aboutToClose, this, [this] {
        m_settling = false;
        m_timer.stop();
        m_lastByte.invalidate();
    });
}

void LineSettler::settle()
{
    m_settling = true;
    m_started.start();
    check();
}

void LineSettler::check()
{
    using namespace LoggerProtocol;
    const qint64 quietNs
        = m_lastByte.isValid() ? m_lastByte.nsecsElapsed() : kLineQuietMs * kNsPerMs;
    const qint64 leftNs = qMin(kLineQuietMs * kNsPerMs - quietNs,
                               kLineSettleBoundMs * kNsPerMs - m_started.nsecsElapsed());
    if (leftNs > 0) {
        // Bytes that come meanwhile only move m_lastByte on; the timer finds them when it fires.
        m_timer.start(int((leftNs + kNsPerMs - 1) / kNsPerMs));
        return;
    }
    m_settling = false;
    if (!m_port->isOpen())
        return;
    m_port->clear(QSerialPort::Input);
    // Clearing the input of a line that has died fails, and its owner may close the port.
    if (m_port->isOpen())
        emit settled();
}
