#pragma once

#include <QString>

/// One station window per computer: two would fight over the loggers' ports. The first to claim
/// it holds it until it ends (or crashes: the claim goes with the process). It stops a second
/// start by mistake, by any account of the computer; it cannot stop another program from opening
/// the ports.
class OneStation
{
public:
    OneStation();
    ~OneStation();
    OneStation(const OneStation &) = delete;
    OneStation &operator=(const OneStation &) = delete;

    /// True when this process now holds the claim; otherwise holder says who does ("process
    /// 4242 of ana, since 2026-12-07 15:03"), as far as it is known.
    bool claim(QString *holder);

private:
    struct Handle;
    Handle *m_handle = nullptr;
};
