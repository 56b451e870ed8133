#pragma once

#include <QRegExp>
#include <QString>

#include <optional>

namespace AlarmLimits {

constexpr int kLowest = -40;
constexpr int kHighest = 85;

/// What the alarm fields let an operator type: the whole numbers from -40 to 85, the numbers
/// 0 to 9 also with one leading zero.
QRegExp pattern();

/// The limit a field's text stands for, when it is a whole number from -40 to 85.
std::optional<int> parse(const QString &text);

} // namespace AlarmLimits
