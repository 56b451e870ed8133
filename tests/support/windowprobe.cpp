#include "windowprobe.h"

#include <QAbstractButton>
#include <QTest>
#include <QTextEdit>

namespace {

const char *const kTextFields[]
    = {"alarmUpper", "alarmLower", "startHours", "startMinutes", "logHours", "logMinutes"};

void setText(QWidget *window, const char *name, const QString &text)
{
    QWidget *widget = namedChild<QWidget>(window, name);
    widget->setProperty(widget->inherits("QComboBox") ? "currentText" : "text", text);
}

} // namespace

QString textOf(const QWidget *window, const char *name)
{
    const QWidget *widget = namedChild<QWidget>(window, name);
    return widget->property(widget->inherits("QComboBox") ? "currentText" : "text").toString();
}

void click(QWidget *window, const char *name)
{
    QTest::mouseClick(namedChild<QAbstractButton>(window, name), Qt::LeftButton);
}

QStringList activityLog(const QWidget *window)
{
    QStringList messages;
    const QString text = namedChild<QTextEdit>(window, "StatusLabel")->toPlainText();
    for (const QString &line : text.split(QLatin1Char('\n')))
        messages << line.section(QLatin1String(" : "), 1); // after the time stamp
    return messages;
}

QString configText(const LoggerConfig &c)
{
    const auto choice = [](std::optional<bool> value, const char *yes, const char *no) {
        return QLatin1String(!value ? "?" : *value ? yes : no);
    };
    QStringList texts {choice(c.fahrenheit, "F", "C"), choice(c.alarmEnabled, "on", "off")};
    texts << c.alarmUpper << c.alarmLower << c.startHours << c.startMinutes << c.logHours
          << c.logMinutes << choice(c.pdf, "PDF", "CSV") << c.zone;
    return texts.join(QLatin1Char(' '));
}

QString formText(const QWidget *window)
{
    const auto choice = [window](const char *name, const char *yes, const char *no) {
        return QLatin1String(namedChild<QWidget>(window, name)->property("checked").toBool() ? yes
                                                                                             : no);
    };
    QStringList texts {choice("fahrenheitScale", "F", "C"),
                       choice("enableAlarmConfig", "on", "off")};
    for (const char *name : kTextFields)
        texts << textOf(window, name);
    texts << choice("pdfFormat", "PDF", "CSV") << textOf(window, "timezoneHours");
    return texts.join(QLatin1Char(' '));
}

void setForm(QWidget *window, const QString &text)
{
    const QStringList texts = text.split(QLatin1Char(' '));
    const auto check = [window](const char *name, bool on) {
        namedChild<QWidget>(window, name)->setProperty("checked", on);
    };
    check(texts.at(0) == QLatin1String("F") ? "fahrenheitScale" : "celsiusScale", true);
    check("enableAlarmConfig", texts.at(1) == QLatin1String("on"));
    for (int i = 0; i < 6; ++i)
        setText(window, kTextFields[i], texts.at(2 + i));
    check(texts.at(8) == QLatin1String("PDF") ? "pdfFormat" : "csvFormat", true);
    setText(window, "timezoneHours", texts.at(9));
}
