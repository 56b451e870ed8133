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

std::function<void(TerminationRequest)> &watchRequest()
{
    static std::function<void(TerminationRequest)> request;
    return request;
}

} // namespace

void TerminationSignals::deliver(TerminationRequest request)
{
    if (QObject *context = watchContext())
        QMetaObject::invokeMethod(
            context,
            [request] {
                if (watchRequest())
                    watchRequest()(request);
            },
            Qt::QueuedConnection);
}

void watchTerminationSignals(QObject *context, std::function<void(TerminationRequest)> onRequest)
{
    watchContext() = context;
    watchRequest() = std::move(onRequest);
    TerminationSignals::startWatching(context);
}
