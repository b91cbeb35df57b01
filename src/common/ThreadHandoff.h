#pragma once
// Queues a call to the thread of `receiver` (its event loop runs it later).
//
// Qt hands the call over through locks of its own. Qt as shipped is not built
// with ThreadSanitizer, so those locks are invisible to it, and everything
// the sender wrote before the call, and the call object itself, would be
// reported as racing with the call. Under ThreadSanitizer the sender
// therefore publishes what it wrote before queueing (a release), its writes
// while Qt builds the call object are not tracked (Qt's lock orders them),
// and the call acquires first thing when it runs. In other builds this is
// plain QMetaObject::invokeMethod with a queued connection.

#include <QMetaObject>
#include <QObject>

#include <utility>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
#endif

namespace tolvane {

namespace detail {
inline char handOverToken;
} // namespace detail

template <typename F> void QueueOnThreadOf(QObject* receiver, F&& call) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(&detail::handOverToken);
    AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
    QMetaObject::invokeMethod(
        receiver,
        [call = std::forward<F>(call)]() mutable {
            __tsan_acquire(&detail::handOverToken);
            call();
        },
        Qt::QueuedConnection);
    AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
#else
    QMetaObject::invokeMethod(receiver, std::forward<F>(call), Qt::QueuedConnection);
#endif
}

} // namespace tolvane
