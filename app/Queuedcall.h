#pragma once
#include <functional>

class QObject;

// Runs `call` later on the thread `receiver` lives on, in the order of posting, from any thread.
// Qt's event queue orders the post before the call, but Qt is not built with ThreadSanitizer and
// that ordering is invisible to it; a lock taken on both sides declares it, so what the poster
// built for the call (the call's captures) is seen as handed over, not raced on.
void QueueCall(QObject* receiver, std::function<void()> call);
