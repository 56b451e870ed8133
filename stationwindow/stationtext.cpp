#include "stationwindow/stationtext.h"

#include "station/terminaltext.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>

namespace StationText {

namespace {

// "10 min", "1 h 30 min", "2 h" from two-digit hour and minute texts.
QString duration(const QString &hours, const QString &minutes)
{
    const int h = hours.toInt();
    const int m = minutes.toInt();
    QStringList parts;
    if (h > 0)
        parts.append(QStringLiteral("%1 h").arg(h));
    if (m > 0 || h == 0)
        parts.append(QStringLiteral("%1 min").arg(m));
    return parts.join(QLatin1Char(' '));
}

} // namespace

QString profileSentence(const LoggerConfig &config)
{
    const QString unit
        = config.fahrenheit.value_or(false) ? QStringLiteral("°F") : QStringLiteral("°C");
    const QString alarm = config.alarmEnabled.value_or(false)
        ? QStringLiteral("%1–%2 %3, alarm on").arg(config.alarmLower, config.alarmUpper, unit)
        : QStringLiteral("%1, alarm off").arg(unit);
    const QString start = config.startHours.toInt() == 0 && config.startMinutes.toInt() == 0
        ? QStringLiteral("start at once")
        : QStringLiteral("start after ") + duration(config.startHours, config.startMinutes);
    return QStringList {
        alarm, QStringLiteral("log every ") + duration(config.logHours, config.logMinutes), start,
        config.zone, QLatin1String(config.pdf.value_or(true) ? "PDF" : "CSV")}
        .join(QStringLiteral(" · "));
}

QString word(State state)
{
    switch (state) {
    case State::Waiting:
        return QStringLiteral("waiting");
    case State::Writing:
        return QStringLiteral("writing");
    case State::Checking:
        return QStringLiteral("checking");
    case State::Verified:
        return QStringLiteral("verified");
    case State::Mismatch:
        return QStringLiteral("mismatch");
    case State::Failed:
        return QStringLiteral("failed");
    case State::Refused:
        return QStringLiteral("refused");
    case State::NotRecorded:
        return QStringLiteral("not recorded");
    }
    return {};
}

View attemptView(const Attempt &attempt, int retries)
{
    View view;
    QString detail = attemptDetails(attempt);
    switch (attempt.outcome) {
    case Session::Verified:
    case Session::Written: {
        const QDateTime time = QDateTime::fromString(
            attempt.record.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
        view.state = State::Verified;
        detail = QStringLiteral("set at ")
            + QLocale::c().toString(time.toLocalTime().time(), QStringLiteral("HH:mm:ss"));
        break;
    }
    case Session::Mismatched:
        view.state = State::Mismatch;
        break;
    case Session::Failed:
        view.state = State::Failed;
        break;
    case Session::Refused:
        view.state = State::Refused;
        detail = QStringLiteral("not on the list: put it aside");
        break;
    }
    // What the person at the bench does comes first, where a tile has room for little.
    if (attempt.whenBack)
        detail = QStringLiteral("plug it in again (attempt %1 of %2): ")
                     .arg(attempt.number + 1)
                     .arg(retries + 1)
            + detail;
    else if (attempt.again)
        detail += QStringLiteral("; trying again (attempt %1 of %2)")
                      .arg(attempt.number + 1)
                      .arg(retries + 1);
    if (!attempt.recorded) {
        // Written and held back from green until its line is in the record.
        const bool written = !attempt.record.value(QStringLiteral("outcome"))
                                  .toString()
                                  .startsWith(QLatin1String("not"))
            && attempt.outcome != Session::Refused;
        if (written) {
            detail = word(view.state) + QStringLiteral(", held until the record takes its line");
            view.state = State::NotRecorded;
        } else {
            detail += QStringLiteral("; not in the record yet");
        }
    }
    view.detail = detail;
    return view;
}

QString spoken(const QString &logger, const View &view)
{
    // A logger's identifier and what it read back may hold characters that reorder or hide what
    // a person reads, on the screen as on a terminal.
    QString text = terminalText(logger) + QLatin1Char(' ') + word(view.state);
    if (!view.detail.isEmpty())
        text += QStringLiteral(": ") + terminalText(view.detail);
    return text;
}

} // namespace StationText
