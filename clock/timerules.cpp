#include "clock/timerules.h"

#include <QRegularExpression>

namespace {

constexpr int kLongestDelayHours = 4;
constexpr int kLongestIntervalHours = 18;
constexpr int kShortestIntervalMinutes = 10;

// The value of a two-digit text, or -1.
int twoDigits(const QString &text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{2}$"));
    return digits.match(text).hasMatch() ? text.toInt() : -1;
}

} // namespace

namespace TimeRules {

bool startDelayOffered(const QString &hours, const QString &minutes)
{
    const int h = twoDigits(hours);
    const int m = twoDigits(minutes);
    return h >= 0 && h <= kLongestDelayHours && m >= 0 && m <= 59;
}

bool intervalOffered(const QString &hours, const QString &minutes)
{
    const int h = twoDigits(hours);
    const int m = twoDigits(minutes);
    return intervalListed(hours, minutes) && (h > 0 || m >= kShortestIntervalMinutes);
}

bool intervalListed(const QString &hours, const QString &minutes)
{
    const int h = twoDigits(hours);
    const int m = twoDigits(minutes);
    return h >= 0 && h <= kLongestIntervalHours && m >= 1 && m <= 59;
}

} // namespace TimeRules
