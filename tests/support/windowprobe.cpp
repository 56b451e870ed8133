#include "windowprobe.h"

#include <QRegularExpression>
#include <QTextEdit>

QStringList activityLog(const QTextEdit *log)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d : "));
    QStringList messages;
    const QStringList lines = log->toPlainText().split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = stamp.match(line);
        messages.append(match.hasMatch() ? line.mid(match.capturedLength())
                                         : QStringLiteral("?") + line);
    }
    return messages;
}
