// A capture being written: events come from any thread through a bounded queue and a thread of
// the writer's own puts them in the file, so that the line never waits for the disk.
//
// Post never blocks on the disk: a full queue drops the event and counts it, and the file then
// says how many were dropped, where. A write that fails stops the capture: what was written
// stays in the file, later events are not taken, and Failure() says why.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "capture/capture_event.h"
#include "capture/capture_format.h"

namespace qv::capture {

// Where the writer's lines go. Write is called on the writer's thread only.
class CaptureSink {
 public:
  virtual ~CaptureSink() = default;
  // All of the bytes, or false with the reason in *error.
  virtual bool Write(const char* bytes, std::size_t count, std::string* error) = 0;
};

// A file created (or emptied) for the capture. Null with the reason when it cannot be.
std::unique_ptr<CaptureSink> CreateFileSink(const std::string& path, std::string* error);

struct QueueLimits {
  std::size_t events = 1 << 16;  // events waiting for the writer
  std::size_t bytes = 64 << 20;  // their bytes and details together
};

struct CaptureSummary {
  std::uint64_t events = 0;   // events taken
  std::uint64_t dropped = 0;  // events the full queue dropped
  std::uint64_t droppedBytes = 0;
  std::string failure;  // empty: every line was written
};

class CaptureWriter {
 public:
  using Clock = std::chrono::steady_clock;

  explicit CaptureWriter(QueueLimits limits = {});
  ~CaptureWriter();  // stops a capture that still runs
  CaptureWriter(const CaptureWriter&) = delete;
  CaptureWriter& operator=(const CaptureWriter&) = delete;

  // Writes the header (with the start's wall-clock time) and starts the writer's thread. False
  // with the reason when the header cannot be written or a capture already runs.
  bool Start(std::unique_ptr<CaptureSink> sink, const std::string& port,
             const std::string& settings, std::string* error);
  // The same into a file at path.
  bool StartFile(const std::string& path, const std::string& port, const std::string& settings,
                 std::string* error);

  // Takes an event, time-stamped now; nothing while no capture runs. Events are written in the
  // order of their time stamps.
  void Post(Kind kind, std::string_view detail, const void* bytes = nullptr, std::size_t count = 0);

  // Writes what the queue holds and a last line, and ends the thread. Safe when none runs.
  CaptureSummary Stop();

  // True from Start until Stop or a failed write.
  bool Running() const { return running_.load(std::memory_order_acquire); }
  std::string Path() const;
  std::string Failure() const;
  std::uint64_t Dropped() const;

  // Called once on the writer's thread when a write fails, with the reason; the callee must
  // not call Stop from there (it may post to its own thread and stop from that).
  void SetOnFailure(std::function<void(const std::string&)> onFailure);

 private:
  // How long the writer lets events gather after the first, unless the queue fills meanwhile.
  static constexpr std::chrono::milliseconds kGatherTime{10};
  bool BacklogLocked() const;
  void PostOne(Kind kind, std::string_view detail, const std::uint8_t* first, std::size_t count);
  void WriterLoop();
  bool WriteOut(const std::string& text);

  const QueueLimits limits_;
  std::atomic<bool> running_{false};
  mutable std::mutex mu_;
  std::condition_variable wake_;
  std::vector<Event> queue_;
  std::size_t queuedBytes_ = 0;
  bool stopping_ = false;
  std::uint64_t taken_ = 0;
  std::uint64_t dropped_ = 0;  // since the start
  std::uint64_t droppedBytes_ = 0;
  std::uint64_t droppedSince_ = 0;  // not yet reported in the file
  std::uint64_t droppedBytesSince_ = 0;
  std::uint64_t lastMicros_ = 0;
  Clock::time_point start_{};
  std::string path_;
  std::string failure_;
  std::function<void(const std::string&)> onFailure_;
  std::unique_ptr<CaptureSink> sink_;  // the writer thread's while it runs
  std::thread thread_;
  std::mutex stopMu_;  // one Start or Stop at a time
};

// The process's capture: the one the engine's threads and the program's port path post to.
CaptureWriter& LineCapture();

// Posts to the process's capture when one runs: one atomic load when none does.
inline void Record(Kind kind, std::string_view detail, const void* bytes = nullptr,
                   std::size_t count = 0) {
  CaptureWriter& capture = LineCapture();
  if (capture.Running()) capture.Post(kind, detail, bytes, count);
}

// The wall-clock time now, ISO 8601 UTC with microseconds ("2026-12-09T20:51:02.125000Z").
std::string UtcNowText();

}  // namespace qv::capture
