#include "Queuedcall.h"

#include <QMetaObject>
#include <QObject>
#include <mutex>

namespace {
std::mutex HandOverLock;
}

void QueueCall(QObject* receiver, std::function<void()> call) {
    // Everything the poster wrote before this point is released here and taken up by the call.
    { std::lock_guard<std::mutex> lock(HandOverLock); }
    QMetaObject::invokeMethod(
        receiver,
        [call = std::move(call)] {
            { std::lock_guard<std::mutex> lock(HandOverLock); }
            call();
        },
        Qt::QueuedConnection);
}
