// Runs the calling thread's event loop until a condition holds, for at most `ms` milliseconds;
// true when it held.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

namespace qv::test {

inline bool PumpEventsUntil(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

}  // namespace qv::test
