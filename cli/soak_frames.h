// The soak's data and its accounting. Every byte a soak writes is part of a frame:
//
//   A5 5A  thread (1)  sequence (4, LE)  payload length (2, LE)  header check (1)  payload  CRC-32 (4, LE)
//
// The header check is the low byte of the CRC-32 of the nine bytes before it; the CRC-32 at the
// end covers header and payload. Payload bytes are never A5, so after damage the next frame is
// found by its magic. Each writing thread numbers its own frames from 0, in the order it writes
// them, so order is checked per thread.
//
// The ledger holds what the writers did (frames issued, writes completed or aborted, events that
// may drop bytes in flight) and classifies what the reader got:
//   delivered   a frame intact, for the first time, in its thread's order;
//   corrupted   a frame of the right length whose bytes changed (or one never sent);
//   lost        a frame that must have arrived (its write completed with success and no purge or
//               close came after it) and did not, or that arrived with bytes missing;
//   duplicated  a frame that arrived again, or with bytes repeated;
//   out of order  a frame of a thread that came after a later frame of that thread.
// Frames of a write that a purge, cancel or close aborted, and frames in flight at a buffer
// purge, a close, a break or an overflow the driver reported, are expected losses: counted
// apart, and no fault when they are missing or cut short. A write shorter than a frame is sent as
// one empty frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace qv::cli::soak {

inline constexpr std::uint8_t kMagic0 = 0xA5;
inline constexpr std::uint8_t kMagic1 = 0x5A;
inline constexpr std::size_t kHeaderSize = 10;
inline constexpr std::size_t kTrailerSize = 4;
inline constexpr std::size_t kMinFrame = kHeaderSize + kTrailerSize;
inline constexpr std::size_t kMaxPayload = 4096;
inline constexpr int kMaxThreads = 64;

std::uint32_t Crc32(const std::uint8_t* data, std::size_t count, std::uint32_t crc = 0);

// The payload lengths of the frames that make up a write of `size` bytes: the frames together
// are exactly `size` bytes, or one empty frame when `size` is smaller than a frame can be.
std::vector<std::size_t> FramePayloads(std::size_t size);

// Appends the frame (thread, seq) with a payload of `payload` bytes.
void AppendFrame(std::vector<std::uint8_t>& out, int thread, std::uint32_t seq,
                 std::size_t payload);

struct Finding {
  enum Kind { kCorrupted, kLost, kDuplicated, kOutOfOrder };
  Kind kind;
  int thread;
  std::uint32_t seq;
};
const char* FindingName(Finding::Kind kind);

struct LedgerCounts {
  long long framesIssued = 0;
  long long delivered = 0;
  long long corrupted = 0;
  long long lost = 0;
  long long duplicated = 0;
  long long outOfOrder = 0;
  long long expectedLost = 0;  // missing or cut short, but aborted or in flight at a purge
  long long unfinished = 0;    // of writes that had not completed when the run ended
  long long strayBytes = 0;    // bytes outside any frame that could be attributed
  long long bytesReceived = 0;
  bool Clean() const { return corrupted == 0 && lost == 0 && duplicated == 0 && outOfOrder == 0; }
};

// Thread-safe: writers, the reader and the run's end may call it at once.
class Ledger {
 public:
  explicit Ledger(int threads);

  // A write of frames firstSeq .. firstSeq + count - 1 is about to be issued.
  void Issued(int thread, std::uint32_t firstSeq, std::uint32_t count);
  // It ended: ok when every byte was written with success.
  void Completed(int thread, std::uint32_t firstSeq, std::uint32_t count, bool ok);
  // These frames may be dropped (their write is about to be cancelled).
  void ExpectLoss(int thread, std::uint32_t firstSeq, std::uint32_t count);
  // Every frame not received yet may be dropped (a buffer purge, a close), or with
  // `pendingOnly` the frames of writes that have not completed (an abort).
  void LossEvent(bool pendingOnly = false);

  // What the reader got, in order.
  void Received(const std::uint8_t* data, std::size_t count);
  // Frames that must still arrive (completed with success, not received, not excused).
  long long Outstanding() const;
  // The run ended: bytes left are judged as they are, missing frames are lost.
  LedgerCounts Finish();
  LedgerCounts Counts() const;
  // The first findings, in the order found (at most kMaxFindings).
  std::vector<Finding> Findings() const;
  static constexpr std::size_t kMaxFindings = 20;

 private:
  enum Flag : std::uint8_t {
    kIssued = 1,
    kCompletedOk = 2,
    kMayLose = 4,
    kReceived = 8,
    kDamaged = 16,
  };
  struct Stream {
    std::vector<std::uint8_t> flags;  // by sequence number
    long long highest = -1;           // the highest sequence number received
    std::size_t lowWater = 0;         // frames below are received, damaged or excused
  };
  std::uint8_t* FlagsLocked(int thread, std::uint32_t seq);
  void Note(Finding::Kind kind, int thread, std::uint32_t seq);
  void ParseLocked(bool final);
  void AcceptLocked(int thread, std::uint32_t seq);
  void DamagedLocked(std::size_t at, std::size_t regionLength);
  // The frame at buffer offset `at` is whole and intact: 1; cannot tell yet: 0; is not: -1.
  int FrameAtLocked(std::size_t at, bool final) const;

  mutable std::mutex lock_;
  std::vector<Stream> streams_;
  std::vector<std::uint8_t> buffer_;
  std::size_t start_ = 0;  // the first unparsed byte of buffer_
  LedgerCounts counts_;
  std::vector<Finding> findings_;
  bool finished_ = false;
};

}  // namespace qv::cli::soak
