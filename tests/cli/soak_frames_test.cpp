// The soak's accounting without a port: what writers did and what the reader got, against the
// verdict on every frame.
#include "cli/soak_frames.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>

namespace {

using qv::cli::soak::AppendFrame;
using qv::cli::soak::Finding;
using qv::cli::soak::FramePayloads;
using qv::cli::soak::kMaxPayload;
using qv::cli::soak::kMinFrame;
using qv::cli::soak::Ledger;
using qv::cli::soak::LedgerCounts;

using Bytes = std::vector<std::uint8_t>;

// A frame of the tables' size: 40 bytes of payload.
constexpr long long kFrame = 40 + static_cast<long long>(kMinFrame);

Bytes Frame(int thread, std::uint32_t seq, std::size_t payload = 40) {
  Bytes out;
  AppendFrame(out, thread, seq, payload);
  return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A write of one frame each, completed with success.
void Sent(Ledger& ledger, int thread, std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t seq = from; seq <= to; ++seq) {
    ledger.Issued(thread, seq, 1);
    ledger.Completed(thread, seq, 1, true);
  }
}

struct Expected {
  long long delivered, corrupted, lost, duplicated, outOfOrder, expectedLost;
  std::vector<std::uint32_t> seqs;  // the findings' sequence numbers, in order
};

struct Case {
  const char* name;
  // Books the writers' side and gives back what the reader gets.
  std::function<Bytes(Ledger&)> scenario;
  Expected expected;
  long long stray = 0;
  long long unfinished = 0;
};

Bytes Altered(Bytes b, std::size_t at) {
  b[at] ^= 0xFF;
  return b;
}
Bytes Dropped(Bytes b, std::size_t at) {
  b.erase(b.begin() + long(at));
  return b;
}
Bytes Repeated(Bytes b, std::size_t at) {
  b.insert(b.begin() + long(at), b[at]);
  return b;
}

const Case kCases[] = {
    {"two threads interleaved, each in order",
     [](Ledger& l) {
       Sent(l, 0, 0, 2), Sent(l, 1, 0, 1);
       return Join({Frame(0, 0), Frame(1, 0), Frame(0, 1), Frame(1, 1), Frame(0, 2)});
     },
     {5, 0, 0, 0, 0, 0, {}}},
    {"a payload byte changed",
     [](Ledger& l) {
       Sent(l, 0, 0, 2);
       return Join({Frame(0, 0), Altered(Frame(0, 1), 20), Frame(0, 2)});
     },
     {2, 1, 0, 0, 0, 0, {1}}},
    {"the CRC changed",
     [](Ledger& l) {
       Sent(l, 0, 0, 1);
       return Join({Altered(Frame(0, 0), 52), Frame(0, 1)});
     },
     {1, 1, 0, 0, 0, 0, {0}}},
    {"a byte dropped",
     [](Ledger& l) {
       Sent(l, 0, 0, 2);
       return Join({Frame(0, 0), Dropped(Frame(0, 1), 30), Frame(0, 2)});
     },
     {2, 0, 1, 0, 0, 0, {1}}},
    {"a byte repeated",
     [](Ledger& l) {
       Sent(l, 0, 0, 2);
       return Join({Frame(0, 0), Repeated(Frame(0, 1), 30), Frame(0, 2)});
     },
     {2, 0, 0, 1, 0, 0, {1}}},
    {"a frame twice",
     [](Ledger& l) {
       Sent(l, 0, 0, 1);
       return Join({Frame(0, 0), Frame(0, 0), Frame(0, 1)});
     },
     {2, 0, 0, 1, 0, 0, {0}}},
    {"a completed frame missing",
     [](Ledger& l) {
       Sent(l, 0, 0, 2);
       return Join({Frame(0, 0), Frame(0, 2)});
     },
     {2, 0, 1, 0, 0, 0, {1}}},
    {"two frames swapped",
     [](Ledger& l) {
       Sent(l, 0, 0, 2);
       return Join({Frame(0, 0), Frame(0, 2), Frame(0, 1)});
     },
     {2, 0, 0, 0, 1, 0, {1}}},
    {"an aborted write missing is an expected loss",
     [](Ledger& l) {
       Sent(l, 0, 0, 0);
       l.Issued(0, 1, 2);
       l.Completed(0, 1, 2, false);
       return Frame(0, 0);
     },
     {1, 0, 0, 0, 0, 2, {}}},
    {"a purge cuts a frame in flight",
     [](Ledger& l) {
       Sent(l, 0, 0, 2);
       l.LossEvent();
       const Bytes cut = Frame(0, 1);
       return Join({Frame(0, 0), Bytes(cut.begin(), cut.begin() + 25), Frame(0, 2)});
     },
     {2, 0, 0, 0, 0, 1, {}}},
    {"a purge drops a frame's head: its tail is stray",
     [](Ledger& l) {
       Sent(l, 0, 0, 2);
       l.LossEvent();
       const Bytes cut = Frame(0, 1);
       return Join({Frame(0, 0), Bytes(cut.begin() + 25, cut.end()), Frame(0, 2)});
     },
     {2, 0, 0, 0, 0, 1, {}},
     kFrame - 25},
    {"an abort spares writes that had completed",
     [](Ledger& l) {
       Sent(l, 0, 0, 0);
       l.Issued(0, 1, 1);
       l.LossEvent(true);
       l.Completed(0, 1, 1, true);  // the abort came too late for it: still excused
       return Bytes{};
     },
     {0, 0, 1, 0, 0, 1, {0}}},
    {"a cancelled write that arrived whole is delivered",
     [](Ledger& l) {
       l.Issued(0, 0, 1);
       l.ExpectLoss(0, 0, 1);
       l.Completed(0, 0, 1, false);
       return Frame(0, 0);
     },
     {1, 0, 0, 0, 0, 0, {}}},
    {"a write still pending at the end is neither lost nor excused",
     [](Ledger& l) {
       Sent(l, 0, 0, 0);
       l.Issued(0, 1, 1);
       return Frame(0, 0);
     },
     {1, 0, 0, 0, 0, 0, {}},
     0,
     1},
    {"garbage between frames is stray",
     [](Ledger& l) {
       Sent(l, 0, 0, 1);
       return Join({Bytes{0x00, 0xA5, 0x11}, Frame(0, 0), Bytes{0xA5, 0x5A, 0x00}, Frame(0, 1)});
     },
     {2, 0, 0, 0, 0, 0, {}},
     6},
    {"an intact frame never sent",
     [](Ledger& l) {
       Sent(l, 0, 0, 0);
       return Join({Frame(0, 0), Frame(0, 7)});
     },
     {1, 1, 0, 0, 0, 0, {7}}},
    {"a damaged header: the frame is lost, its bytes stray",
     [](Ledger& l) {
       Sent(l, 0, 0, 2);
       return Join({Frame(0, 0), Altered(Frame(0, 1), 4), Frame(0, 2)});
     },
     {2, 0, 1, 0, 0, 0, {1}},
     kFrame},
    {"the last frame cut short by the run's end",
     [](Ledger& l) {
       Sent(l, 0, 0, 1);
       const Bytes last = Frame(0, 1);
       return Join({Frame(0, 0), Bytes(last.begin(), last.end() - 3)});
     },
     {1, 0, 1, 0, 0, 0, {1}}},
};

TEST(SoakLedger, ClassifiesEveryFrameHoweverTheBytesAreChunked) {
  for (const Case& c : kCases) {
    for (std::size_t chunk : {std::size_t(1), std::size_t(7), std::size_t(1) << 20}) {
      SCOPED_TRACE(std::string(c.name) + ", chunks of " + std::to_string(chunk));
      Ledger ledger(2);
      const Bytes bytes = c.scenario(ledger);
      for (std::size_t at = 0; at < bytes.size(); at += chunk)
        ledger.Received(bytes.data() + at, std::min(chunk, bytes.size() - at));
      const LedgerCounts n = ledger.Finish();
      EXPECT_EQ(n.delivered, c.expected.delivered);
      EXPECT_EQ(n.corrupted, c.expected.corrupted);
      EXPECT_EQ(n.lost, c.expected.lost);
      EXPECT_EQ(n.duplicated, c.expected.duplicated);
      EXPECT_EQ(n.outOfOrder, c.expected.outOfOrder);
      EXPECT_EQ(n.expectedLost, c.expected.expectedLost);
      EXPECT_EQ(n.strayBytes, c.stray);
      EXPECT_EQ(n.unfinished, c.unfinished);
      EXPECT_EQ(n.bytesReceived, static_cast<long long>(bytes.size()));
      std::vector<std::uint32_t> seqs;
      for (const Finding& f : ledger.Findings()) seqs.push_back(f.seq);
      EXPECT_EQ(seqs, c.expected.seqs);
    }
  }
}

TEST(SoakLedger, OutstandingCountsCompletedFramesNotYetReceived) {
  Ledger ledger(1);
  Sent(ledger, 0, 0, 2);
  EXPECT_EQ(ledger.Outstanding(), 3);
  const Bytes first = Frame(0, 0);
  ledger.Received(first.data(), first.size());
  EXPECT_EQ(ledger.Outstanding(), 2);
  ledger.LossEvent();
  EXPECT_EQ(ledger.Outstanding(), 0);
}

TEST(SoakFrames, AWriteIsExactlyItsSizeInFramesOfAtMostTheLargestPayload) {
  for (std::size_t size :
       {std::size_t(1), kMinFrame - 1, kMinFrame, kMinFrame + 1, kMaxPayload + kMinFrame,
        kMaxPayload + kMinFrame + 1, kMaxPayload + 2 * kMinFrame - 1, std::size_t(65536)}) {
    SCOPED_TRACE(size);
    const std::vector<std::size_t> payloads = FramePayloads(size);
    std::size_t total = 0;
    for (std::size_t p : payloads) {
      EXPECT_LE(p, kMaxPayload);
      total += p + kMinFrame;
    }
    EXPECT_EQ(total, std::max(size, kMinFrame));
  }
}

}  // namespace
