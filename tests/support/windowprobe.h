#pragma once

#include "device/loggerconfig.h"

#include <QObject>
#include <QStringList>

class QWidget;

/// The child of root with the given object name; a test cannot go on without it.
template<class T> T *namedChild(const QObject *root, const char *name)
{
    T *child = root->findChild<T *>(QLatin1String(name));
    if (!child)
        qFatal("no child %s", name);
    return child;
}

/// What the window's field, button or list named name shows.
QString textOf(const QWidget *window, const char *name);
/// A mouse click on the window's button named name.
void click(QWidget *window, const char *name);
/// The messages of the window's activity log, one per line, without their time stamps.
QStringList activityLog(const QWidget *window);

/// Settings as the tests write them, in one line: "F on 85 -5 02 15 01 30 PDF UTC+05:30" is
/// Fahrenheit (or C), alarm on (or off), upper and lower limit, start delay 02:15, log interval
/// 01:30, PDF (or CSV) and the zone; "?" for a choice that is neither.
QString configText(const LoggerConfig &config);

/// What the window's form shows, as settings text; and the form set to settings text.
QString formText(const QWidget *window);
void setForm(QWidget *window, const QString &text);
