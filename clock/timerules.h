#pragma once

#include <QString>

// The start delays and log intervals the window's lists offer, for a configuration that does
// not come from the form. Hours and minutes are two-digit texts, as the lists hold them.
namespace TimeRules {

/// True from 00:00 to 04:59.
bool startDelayOffered(const QString &hours, const QString &minutes);

/// True from 00:10 to 18:59 with minutes 01 to 59: the minute list has no "00", and with zero
/// hours an interval is at least ten minutes.
bool intervalOffered(const QString &hours, const QString &minutes);

/// True from 00:01 to 18:59 with minutes 01 to 59: every interval the lists hold, which the
/// window can also write (its rule first acts on a change of the hours).
bool intervalListed(const QString &hours, const QString &minutes);

} // namespace TimeRules
