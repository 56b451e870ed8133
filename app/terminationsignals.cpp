#include "app/terminationsignals.h"
#include "app/terminationsignals_p.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>

namespace {

QPointer<QObject> &watchContext()
{
    static QPointer<QObject> context;
    return context;
}

std::function<void()> &watchRequest()
{
    static std::function<void()> request;
    return request;
}

} // namespace

void TerminationSignals::deliver()
{
    if (QObject *context = watchContext())
        QMetaObject::invokeMethod(
            context,
            [] {
                if (watchRequest())
                    watchRequest()();
            },
            Qt::QueuedConnection);
}

void watchTerminationSignals(QObject *context, std::function<void()> onRequest)
{
    watchContext() = context;
    watchRequest() = std::move(onRequest);
    TerminationSignals::startWatching(context);
}
