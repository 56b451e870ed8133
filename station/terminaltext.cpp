#include "station/terminaltext.h"

#include <QVector>

#include <algorithm>

namespace {

bool shownEscaped(uint c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

} // namespace

QString terminalText(const QString &text)
{
    const QVector<uint> characters = text.toUcs4();
    if (std::none_of(characters.cbegin(), characters.cend(), shownEscaped))
        return text;
    QString shown;
    shown.reserve(text.size() + 8);
    for (const uint c : characters) {
        if (!shownEscaped(c))
            shown.append(QString::fromUcs4(&c, 1));
        else if (c == '\r')
            shown.append(QLatin1String("\\r"));
        else if (c == '\n')
            shown.append(QLatin1String("\\n"));
        else if (c == '\t')
            shown.append(QLatin1String("\\t"));
        else if (c < 0x80)
            shown.append(QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0')));
        else if (c <= 0xffff)
            shown.append(QStringLiteral("\\u%1").arg(c, 4, 16, QLatin1Char('0')));
        else
            shown.append(QStringLiteral("\\U%1").arg(c, 8, 16, QLatin1Char('0')));
    }
    return shown;
}
