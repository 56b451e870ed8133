#include "clock/alarmlimits.h"

#include <QRegularExpression>

namespace AlarmLimits {

QRegExp pattern()
{
    return QRegExp(
        QStringLiteral("^((-40)|(-[1-3][0-9]{1})|(-[1-9])|(8[0-5])|([0-7]?[0-9]{1,1}))$"));
}

std::optional<int> parse(const QString &text)
{
    static const QRegularExpression wholeNumber(QStringLiteral("^-?[0-9]{1,3}$"));
    if (!wholeNumber.match(text).hasMatch())
        return std::nullopt;
    const int value = text.toInt();
    if (value < kLowest || value > kHighest)
        return std::nullopt;
    return value;
}

} // namespace AlarmLimits
