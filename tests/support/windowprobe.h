#pragma once

#include <QObject>
#include <QStringList>

class QTextEdit;

/// The child of root with the given object name; a test cannot go on without it.
template<class T> T *namedChild(const QObject *root, const char *name)
{
    T *child = root->findChild<T *>(QLatin1String(name));
    if (!child)
        qFatal("no child %s", name);
    return child;
}

/// The messages of the activity log, one per line, without their time stamps. A line that does
/// not start with a stamp is returned whole, prefixed with "?".
QStringList activityLog(const QTextEdit *log);
