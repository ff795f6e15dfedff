#include "platform/sync/debug_output.h"

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace {

struct Capture {
  std::mutex lock;
  std::string text;
};

Capture& TheCapture() {
  static auto* capture = new Capture;
  return *capture;
}

// The capture is bounded so that a program left running all day does not grow without limit.
constexpr std::size_t kCaptureLimit = 4u << 20;
std::atomic<bool> toStderr{true};

}  // namespace

void OutputDebugStringA(const char* text) {
  if (text == nullptr) return;
  const std::size_t length = std::strlen(text);
  if (toStderr.load(std::memory_order_relaxed) && length > 0) {
    // One write per call, so lines from several threads do not interleave inside a call.
    ssize_t ignored = ::write(STDERR_FILENO, text, length);
    (void)ignored;
  }
  Capture& c = TheCapture();
  std::lock_guard guard(c.lock);
  if (c.text.size() + length > kCaptureLimit) c.text.erase(0, c.text.size() / 2);
  c.text.append(text, length);
}

namespace qv::sync {

std::string DebugOutputCaptured() {
  Capture& c = TheCapture();
  std::lock_guard guard(c.lock);
  return c.text;
}

void ClearDebugOutputCapture() {
  Capture& c = TheCapture();
  std::lock_guard guard(c.lock);
  c.text.clear();
}

void SetDebugOutputToStderr(bool enabled) { toStderr.store(enabled, std::memory_order_relaxed); }

}  // namespace qv::sync
