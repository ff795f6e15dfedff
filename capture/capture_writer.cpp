#include "capture/capture_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace qv::capture {
namespace {

class FileSink final : public CaptureSink {
 public:
  FileSink(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~FileSink() override { ::close(fd_); }

  bool Write(const char* bytes, std::size_t count, std::string* error) override {
    while (count != 0) {
      const ssize_t written = ::write(fd_, bytes, count);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        *error = "cannot write the capture \"" + path_ +
                 "\": " + std::strerror(written < 0 ? errno : ENOSPC);
        return false;
      }
      bytes += written;
      count -= std::size_t(written);
    }
    return true;
  }

 private:
  int fd_;
  std::string path_;
};

// What an event holds in the queue, against its limit.
std::size_t QueuedSize(std::string_view detail, std::size_t count) {
  return detail.size() + count + sizeof(Event);
}

}  // namespace

std::unique_ptr<CaptureSink> CreateFileSink(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot create the capture \"" + path + "\": " + std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<FileSink>(fd, path);
}

std::string UtcNowText() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::tm utc{};
  ::gmtime_r(&now.tv_sec, &utc);
  char text[48];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + length, sizeof text - length, ".%06ldZ", now.tv_nsec / 1000);
  return text;
}

CaptureWriter::CaptureWriter(QueueLimits limits) : limits_(limits) {}

bool CaptureWriter::BacklogLocked() const {
  return queue_.size() >= limits_.events / 2 || queuedBytes_ >= limits_.bytes / 2;
}

CaptureWriter::~CaptureWriter() { Stop(); }

bool CaptureWriter::StartFile(const std::string& path, const std::string& port,
                              const std::string& settings, std::string* error) {
  std::unique_ptr<CaptureSink> sink = CreateFileSink(path, error);
  if (!sink) return false;
  if (!Start(std::move(sink), port, settings, error)) return false;
  std::lock_guard lock(mu_);
  path_ = path;
  return true;
}

bool CaptureWriter::Start(std::unique_ptr<CaptureSink> sink, const std::string& port,
                          const std::string& settings, std::string* error) {
  std::lock_guard stopLock(stopMu_);
  if (thread_.joinable()) {
    *error = "a capture already runs";
    return false;
  }
  Header header;
  header.start = UtcNowText();
  header.port = port;
  header.settings = settings;
  const std::string headerLine = FormatHeader(header);
  // The header is written here, on the caller's thread: a file that cannot take it is said at
  // once, before anything is asked of the line.
  if (!sink->Write(headerLine.data(), headerLine.size(), error)) return false;
  {
    std::lock_guard lock(mu_);
    queue_.clear();
    queuedBytes_ = 0;
    stopping_ = false;
    taken_ = dropped_ = droppedBytes_ = droppedSince_ = droppedBytesSince_ = 0;
    lastMicros_ = 0;
    failure_.clear();
    path_.clear();
    sink_ = std::move(sink);
    start_ = Clock::now();
  }
  running_.store(true, std::memory_order_release);
  thread_ = std::thread([this] { WriterLoop(); });
  return true;
}

void CaptureWriter::Post(Kind kind, std::string_view detail, const void* bytes, std::size_t count) {
  if (!Running()) return;
  // A long chunk (a whole file written in one request) becomes events of kMostBytesPerEvent,
  // so that a line of the file stays of a size a reader can hold.
  const auto* first = static_cast<const std::uint8_t*>(bytes);
  while (count > kMostBytesPerEvent) {
    PostOne(kind, detail, first, kMostBytesPerEvent);
    first += kMostBytesPerEvent;
    count -= kMostBytesPerEvent;
  }
  PostOne(kind, detail, first, count);
}

void CaptureWriter::PostOne(Kind kind, std::string_view detail, const std::uint8_t* first,
                            std::size_t count) {
  const std::size_t size = QueuedSize(detail, count);
  std::lock_guard lock(mu_);
  if (!running_.load(std::memory_order_relaxed) || stopping_) return;
  if (queue_.size() >= limits_.events || queuedBytes_ + size > limits_.bytes) {
    ++dropped_;
    ++droppedSince_;
    droppedBytes_ += count;
    droppedBytesSince_ += count;
    return;
  }
  // The stamp is taken under the lock, so that the queue's order is the stamps' order whichever
  // thread posts.
  const auto since = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start_);
  Event& event = queue_.emplace_back();
  event.micros = std::max<std::uint64_t>(lastMicros_, std::uint64_t(since.count()));
  lastMicros_ = event.micros;
  event.kind = kind;
  event.detail.assign(detail);
  if (count != 0) event.bytes.assign(first, first + count);
  const bool wasBacklog = BacklogLocked();
  queuedBytes_ += size;
  ++taken_;
  // The writer sleeps until the first event, then gathers until the moment is over or the
  // queue is half full: it is woken on those two steps only.
  if (queue_.size() == 1 || (!wasBacklog && BacklogLocked())) wake_.notify_one();
}

bool CaptureWriter::WriteOut(const std::string& text) {
  std::string error;
  if (sink_->Write(text.data(), text.size(), &error)) return true;
  std::function<void(const std::string&)> onFailure;
  {
    std::lock_guard lock(mu_);
    failure_ = error;
    running_.store(false, std::memory_order_release);
    queue_.clear();
    queuedBytes_ = 0;
    onFailure = onFailure_;
  }
  if (onFailure) onFailure(error);
  return false;
}

void CaptureWriter::WriterLoop() {
  std::vector<Event> batch;
  std::string text;
  for (;;) {
    std::uint64_t droppedNow = 0;
    std::uint64_t droppedBytesNow = 0;
    std::uint64_t lastMicros = 0;
    bool stopping = false;
    {
      std::unique_lock lock(mu_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty() || droppedSince_ != 0; });
      // Once there is something, more is let in for a moment before it is taken: a flood of
      // small chunks then costs one wake-up and one write per moment, not one per chunk.
      wake_.wait_for(lock, kGatherTime, [this] { return stopping_ || BacklogLocked(); });
      batch.swap(queue_);
      queuedBytes_ = 0;
      // What was dropped was dropped after everything the batch holds, and before anything
      // posted from now on.
      droppedNow = droppedSince_;
      droppedBytesNow = droppedBytesSince_;
      droppedSince_ = droppedBytesSince_ = 0;
      lastMicros = lastMicros_;
      stopping = stopping_;
    }
    text.clear();
    for (const Event& event : batch) AppendEvent(event, &text);
    if (droppedNow != 0) {
      Event dropped;
      dropped.micros = lastMicros;
      dropped.kind = Kind::kDropped;
      dropped.detail =
          std::to_string(droppedNow) + " events " + std::to_string(droppedBytesNow) + " bytes";
      AppendEvent(dropped, &text);
    }
    batch.clear();
    if (stopping) {
      Event stop;
      {
        std::lock_guard lock(mu_);
        stop.micros = std::max<std::uint64_t>(
            lastMicros_, std::uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                                           Clock::now() - start_)
                                           .count()));
        stop.detail = "events=" + std::to_string(taken_) + " dropped=" + std::to_string(dropped_);
      }
      stop.kind = Kind::kStop;
      AppendEvent(stop, &text);
    }
    if (!text.empty() && !WriteOut(text)) return;
    if (stopping) return;
  }
}

CaptureSummary CaptureWriter::Stop() {
  std::lock_guard stopLock(stopMu_);
  if (!thread_.joinable()) return {};
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
  running_.store(false, std::memory_order_release);
  std::lock_guard lock(mu_);
  sink_.reset();
  return CaptureSummary{taken_, dropped_, droppedBytes_, failure_};
}

std::string CaptureWriter::Path() const {
  std::lock_guard lock(mu_);
  return path_;
}

std::string CaptureWriter::Failure() const {
  std::lock_guard lock(mu_);
  return failure_;
}

std::uint64_t CaptureWriter::Dropped() const {
  std::lock_guard lock(mu_);
  return dropped_;
}

void CaptureWriter::SetOnFailure(std::function<void(const std::string&)> onFailure) {
  std::lock_guard lock(mu_);
  onFailure_ = std::move(onFailure);
}

CaptureWriter& LineCapture() {
  // Never destroyed: the engine's threads may post while the process ends.
  static auto* capture = new CaptureWriter;
  return *capture;
}

}  // namespace qv::capture
