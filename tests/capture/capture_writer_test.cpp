// The capture writer: events from several threads in stamp order with all their bytes, a full
// queue that drops and says so, a write that fails stopping the capture with what was written
// kept, and files that cannot be written refused at the start.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_format.h"
#include "capture/capture_writer.h"

namespace qv::test {
namespace {

using qv::capture::CaptureSink;
using qv::capture::CaptureWriter;
using qv::capture::Event;
using qv::capture::Kind;

// Keeps what it is given; can hold the writer inside Write until released, and can fail once
// it has taken a number of bytes (taking the part that fitted, as a full disk does).
class MemorySink : public CaptureSink {
 public:
  struct State {
    std::mutex mu;
    std::condition_variable changed;
    std::string text;
    bool hold = false;
    int writesEntered = 0;
    std::size_t failAfter = std::string::npos;
  };
  explicit MemorySink(std::shared_ptr<State> state) : state_(std::move(state)) {}

  bool Write(const char* bytes, std::size_t count, std::string* error) override {
    std::unique_lock lock(state_->mu);
    ++state_->writesEntered;
    state_->changed.notify_all();
    state_->changed.wait(lock, [&] { return !state_->hold; });
    const std::size_t room = state_->failAfter - std::min(state_->failAfter, state_->text.size());
    state_->text.append(bytes, std::min(room, count));
    if (count > room) {
      *error = "no space left";
      return false;
    }
    return true;
  }

 private:
  std::shared_ptr<State> state_;
};

struct Parsed {
  qv::capture::Header header;
  std::vector<Event> events;
  std::string error;  // the first line that did not parse
};

Parsed Parse(const std::string& text) {
  Parsed parsed;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || !qv::capture::ParseHeader(line, &parsed.header, &parsed.error))
    return parsed;
  while (std::getline(in, line)) {
    Event event;
    if (!qv::capture::ParseEvent(line, &event, &parsed.error)) return parsed;
    parsed.events.push_back(std::move(event));
  }
  return parsed;
}

class CaptureWriterTest : public ::testing::Test {
 protected:
  std::shared_ptr<MemorySink::State> state_ = std::make_shared<MemorySink::State>();

  void Start(CaptureWriter& writer) {
    std::string error;
    ASSERT_TRUE(writer.Start(std::make_unique<MemorySink>(state_), "vloop0", "115200 8N1", &error))
        << error;
  }
  std::string Text() {
    std::lock_guard lock(state_->mu);
    return state_->text;
  }
};

TEST_F(CaptureWriterTest, EventsFromTwoThreadsArriveInStampOrderWithEveryByte) {
  CaptureWriter writer;
  Start(writer);
  constexpr int kChunks = 2000;
  const auto post = [&writer](Kind kind, std::uint8_t base) {
    for (int i = 0; i < kChunks; ++i) {
      const std::uint8_t bytes[3] = {base, std::uint8_t(i), std::uint8_t(i >> 8)};
      writer.Post(kind, kind == Kind::kTx ? "line" : "", bytes, sizeof bytes);
    }
  };
  std::thread rx(post, Kind::kRx, 0xA0);
  std::thread tx(post, Kind::kTx, 0xB0);
  rx.join();
  tx.join();
  const qv::capture::CaptureSummary summary = writer.Stop();
  EXPECT_EQ(summary.events, 2u * kChunks);
  EXPECT_EQ(summary.dropped, 0u);
  EXPECT_TRUE(summary.failure.empty());

  const Parsed parsed = Parse(Text());
  ASSERT_TRUE(parsed.error.empty()) << parsed.error;
  EXPECT_EQ(parsed.header.port, "vloop0");
  EXPECT_EQ(parsed.header.settings, "115200 8N1");
  ASSERT_EQ(parsed.events.size(), 2u * kChunks + 1);
  EXPECT_EQ(parsed.events.back().kind, Kind::kStop);
  int next[2] = {0, 0};
  std::uint64_t last = 0;
  for (std::size_t i = 0; i + 1 < parsed.events.size(); ++i) {
    const Event& event = parsed.events[i];
    EXPECT_GE(event.micros, last);
    last = event.micros;
    const int side = event.kind == Kind::kTx ? 1 : 0;
    ASSERT_EQ(event.bytes.size(), 3u);
    EXPECT_EQ(event.bytes[0], side ? 0xB0 : 0xA0);
    // Each thread's chunks in its own posting order.
    EXPECT_EQ(event.bytes[1] | event.bytes[2] << 8, next[side]++);
    EXPECT_EQ(event.detail, side ? "line" : "");
  }
}

TEST_F(CaptureWriterTest, AFullQueueDropsAndTheFileSaysHowManyWhereTheyWereDropped) {
  CaptureWriter writer(qv::capture::QueueLimits{4, 1 << 20});
  Start(writer);
  state_->hold = true;
  const std::uint8_t byte = 0x41;
  writer.Post(Kind::kRx, "", &byte, 1);
  {
    // The writer holds the first event inside Write (the header was the first write): the
    // queue fills behind it.
    std::unique_lock lock(state_->mu);
    state_->changed.wait(lock, [&] { return state_->writesEntered == 2; });
  }
  for (int i = 0; i < 10; ++i) writer.Post(Kind::kRx, "", &byte, 1);
  EXPECT_EQ(writer.Dropped(), 6u);
  {
    std::lock_guard lock(state_->mu);
    state_->hold = false;
  }
  state_->changed.notify_all();
  {
    // The queue is empty again once the writer writes its second batch.
    std::unique_lock lock(state_->mu);
    state_->changed.wait(lock, [&] { return state_->writesEntered == 3; });
  }
  writer.Post(Kind::kTx, "after", &byte, 1);
  const qv::capture::CaptureSummary summary = writer.Stop();
  EXPECT_EQ(summary.dropped, 6u);
  EXPECT_EQ(summary.droppedBytes, 6u);

  const Parsed parsed = Parse(Text());
  ASSERT_TRUE(parsed.error.empty()) << parsed.error;
  std::vector<Kind> kinds;
  for (const Event& event : parsed.events) kinds.push_back(event.kind);
  const std::vector<Kind> expected{Kind::kRx, Kind::kRx,      Kind::kRx, Kind::kRx,
                                   Kind::kRx, Kind::kDropped, Kind::kTx, Kind::kStop};
  EXPECT_EQ(kinds, expected);
  EXPECT_EQ(parsed.events[5].detail, "6 events 6 bytes");
  EXPECT_EQ(parsed.events.back().detail, "events=6 dropped=6");
}

TEST_F(CaptureWriterTest, AFailedWriteStopsTheCaptureAndKeepsWhatWasWritten) {
  CaptureWriter writer;
  std::string reported;
  int reports = 0;
  writer.SetOnFailure([&](const std::string& why) {
    reported = why;
    ++reports;
  });
  Start(writer);
  const std::string header = Text();
  const std::uint8_t first[2] = {0x41, 0x54};
  writer.Post(Kind::kTx, "line", first, 2);
  // Wait until the first event is in: the disk then fills in the middle of the next line.
  for (int i = 0; i < 2000 && Text().size() == header.size(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const std::string kept = Text();
  ASSERT_GT(kept.size(), header.size());
  {
    std::lock_guard lock(state_->mu);
    state_->failAfter = kept.size() + 5;
  }
  writer.Post(Kind::kRx, "", first, 2);
  for (int i = 0; i < 2000 && writer.Running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(writer.Running());
  writer.Post(Kind::kRx, "", first, 2);  // taken by no one

  const qv::capture::CaptureSummary summary = writer.Stop();
  EXPECT_EQ(summary.failure, "no space left");
  EXPECT_EQ(writer.Failure(), "no space left");
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(reported, "no space left");
  const std::string text = Text();
  EXPECT_EQ(text.substr(0, kept.size()), kept);
  EXPECT_EQ(text.size(), kept.size() + 5);
  // The writer can start again after the failure.
  std::string error;
  auto fresh = std::make_shared<MemorySink::State>();
  EXPECT_TRUE(writer.Start(std::make_unique<MemorySink>(fresh), "vloop0", "", &error)) << error;
  writer.Stop();
}

TEST_F(CaptureWriterTest, AChunkLongerThanAnEventIsSplitAndASecondStartIsRefused) {
  CaptureWriter writer;
  Start(writer);
  std::string error;
  EXPECT_FALSE(writer.Start(std::make_unique<MemorySink>(state_), "x", "", &error));
  EXPECT_EQ(error, "a capture already runs");
  std::vector<std::uint8_t> bytes(2 * qv::capture::kMostBytesPerEvent + 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t(i * 7);
  writer.Post(Kind::kTx, "file", bytes.data(), bytes.size());
  writer.Stop();
  const Parsed parsed = Parse(Text());
  ASSERT_TRUE(parsed.error.empty()) << parsed.error;
  ASSERT_EQ(parsed.events.size(), 4u);
  std::vector<std::uint8_t> joined;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(parsed.events[i].detail, "file");
    joined.insert(joined.end(), parsed.events[i].bytes.begin(), parsed.events[i].bytes.end());
  }
  EXPECT_EQ(parsed.events[2].bytes.size(), 3u);
  EXPECT_EQ(joined, bytes);
}

TEST(CaptureFile, AFileThatCannotTakeTheHeaderIsRefusedAtTheStartWithItsReason) {
  const struct {
    const char* path;
    const char* reason;
  } cases[] = {
      {"/nonexistent-folder-of-the-capture/c.txt", "cannot create the capture"},
      {"/dev/full", "cannot write the capture \"/dev/full\": No space left on device"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    CaptureWriter writer;
    std::string error;
    EXPECT_FALSE(writer.StartFile(c.path, "vloop0", "", &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_FALSE(writer.Running());
  }
}

}  // namespace
}  // namespace qv::test
