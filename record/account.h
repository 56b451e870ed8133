#pragma once

#include <QString>

// Who and where, for the audit record: the account the program runs under and the computer.
namespace Account {

/// The user's login name ("jdoe"); the numeric id where the system has no name for it.
QString userName();

/// The computer's host name, as the network knows it.
QString hostName();

} // namespace Account
