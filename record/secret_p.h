#pragma once

#include "record/secret.h"

// What asking for a passphrase needs of the platform: a terminal (or console) to ask on, and a
// line read from it without echo.
namespace Passphrase {

bool terminalThere();
/// One line without its end; nothing when the input ends first.
std::optional<SecretBytes> readHiddenLine();

} // namespace Passphrase
