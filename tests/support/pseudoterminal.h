#pragma once

#include <QByteArray>
#include <QString>

/// The host end of a pseudo-terminal for tests: the program under test opens slavePath() as
/// its serial port, the test writes the logger's side into the master.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }

    void write(const QByteArray &bytes);
    /// Everything the program has written so far (waits up to timeoutMs for the first byte).
    QByteArray readAll(int timeoutMs = 0);
    void closeMaster();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};
