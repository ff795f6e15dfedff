// Queues a call from any thread to the thread of a Qt object, in an order that the thread
// sanitizer can see.
#pragma once

#include <QMetaObject>
#include <QObject>

#include <mutex>
#include <utility>

namespace qv::ui {

// Qt hands a queued call over under locks of its own library, which is not instrumented: the
// thread sanitizer would see the call's functor (and what it captured) made on the sending
// thread and read and freed on the receiving one with nothing between. Holding a mutex of ours
// while the call is queued, and taking it once before the call runs, puts that order where the
// sanitizer sees it. The lock is uncontended but for the moment between queuing and returning.
inline std::mutex& QueuedCallHandOver() {
  static std::mutex m;
  return m;
}

template <class F>
void QueueCall(QObject* context, F&& call) {
  std::lock_guard hold(QueuedCallHandOver());
  QMetaObject::invokeMethod(
      context,
      [call = std::forward<F>(call)]() mutable {
        { std::lock_guard taken(QueuedCallHandOver()); }
        call();
      },
      Qt::QueuedConnection);
}

}  // namespace qv::ui
