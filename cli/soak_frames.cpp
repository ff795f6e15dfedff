#include "cli/soak_frames.h"

#include <algorithm>
#include <array>

namespace qv::cli::soak {
namespace {

const std::array<std::uint32_t, 256>& CrcTable() {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  return table;
}

std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) out.push_back(std::uint8_t(v >> (8 * k)));
}

struct Header {
  int thread;
  std::uint32_t seq;
  std::size_t length;  // the whole frame's
};

Header ParseHeader(const std::uint8_t* p) {
  return {p[2], Le32(p + 3), kMinFrame + (std::size_t(p[7]) | std::size_t(p[8]) << 8)};
}

enum class FrameState { kWait, kIntact, kBadHeader, kBadBody };

}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t count, std::uint32_t crc) {
  const auto& table = CrcTable();
  crc = ~crc;
  for (std::size_t i = 0; i < count; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::vector<std::size_t> FramePayloads(std::size_t size) {
  if (size < kMinFrame) return {0};
  std::vector<std::size_t> payloads;
  std::size_t left = size;
  while (left > kMaxPayload + kMinFrame) {
    // Leave at least an empty frame for the rest.
    const std::size_t take = std::min(kMaxPayload, left - 2 * kMinFrame);
    payloads.push_back(take);
    left -= take + kMinFrame;
  }
  payloads.push_back(left - kMinFrame);
  return payloads;
}

void AppendFrame(std::vector<std::uint8_t>& out, int thread, std::uint32_t seq,
                 std::size_t payload) {
  const std::size_t begin = out.size();
  out.push_back(kMagic0);
  out.push_back(kMagic1);
  out.push_back(std::uint8_t(thread));
  PutLe32(out, seq);
  out.push_back(std::uint8_t(payload));
  out.push_back(std::uint8_t(payload >> 8));
  out.push_back(std::uint8_t(Crc32(out.data() + begin, kHeaderSize - 1)));
  // A pattern of the frame's own, without the magic's first byte.
  std::uint32_t x = (std::uint32_t(thread) << 24) ^ (seq * 2654435761u) ^ 0x9E3779B9u;
  x |= 1;
  for (std::size_t i = 0; i < payload; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    std::uint8_t b = std::uint8_t(x % 255);
    if (b >= kMagic0) ++b;
    out.push_back(b);
  }
  PutLe32(out, Crc32(out.data() + begin, out.size() - begin));
}

const char* FindingName(Finding::Kind kind) {
  switch (kind) {
    case Finding::kCorrupted: return "corrupted";
    case Finding::kLost: return "lost";
    case Finding::kDuplicated: return "duplicated";
    case Finding::kOutOfOrder: return "out_of_order";
  }
  return "?";
}

Ledger::Ledger(int threads) : streams_(std::size_t(std::clamp(threads, 1, kMaxThreads))) {}

std::uint8_t* Ledger::FlagsLocked(int thread, std::uint32_t seq) {
  if (thread < 0 || std::size_t(thread) >= streams_.size()) return nullptr;
  auto& flags = streams_[std::size_t(thread)].flags;
  return seq < flags.size() ? &flags[seq] : nullptr;
}

void Ledger::Note(Finding::Kind kind, int thread, std::uint32_t seq) {
  switch (kind) {
    case Finding::kCorrupted: ++counts_.corrupted; break;
    case Finding::kLost: ++counts_.lost; break;
    case Finding::kDuplicated: ++counts_.duplicated; break;
    case Finding::kOutOfOrder: ++counts_.outOfOrder; break;
  }
  if (findings_.size() < kMaxFindings) findings_.push_back({kind, thread, seq});
}

void Ledger::Issued(int thread, std::uint32_t firstSeq, std::uint32_t count) {
  std::lock_guard guard(lock_);
  if (thread < 0 || std::size_t(thread) >= streams_.size()) return;
  auto& flags = streams_[std::size_t(thread)].flags;
  if (flags.size() < std::size_t(firstSeq) + count) flags.resize(std::size_t(firstSeq) + count);
  for (std::uint32_t i = 0; i < count; ++i) flags[firstSeq + i] |= kIssued;
  counts_.framesIssued += count;
}

void Ledger::Completed(int thread, std::uint32_t firstSeq, std::uint32_t count, bool ok) {
  std::lock_guard guard(lock_);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (std::uint8_t* f = FlagsLocked(thread, firstSeq + i)) *f |= ok ? kCompletedOk : kMayLose;
  }
}

void Ledger::ExpectLoss(int thread, std::uint32_t firstSeq, std::uint32_t count) {
  std::lock_guard guard(lock_);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (std::uint8_t* f = FlagsLocked(thread, firstSeq + i)) *f |= kMayLose;
  }
}

void Ledger::LossEvent(bool pendingOnly) {
  std::lock_guard guard(lock_);
  const std::uint8_t spared = kReceived | kDamaged | (pendingOnly ? kCompletedOk : 0);
  for (Stream& s : streams_) {
    for (std::size_t seq = s.lowWater; seq < s.flags.size(); ++seq) {
      if (!(s.flags[seq] & spared)) s.flags[seq] |= kMayLose;
    }
    while (s.lowWater < s.flags.size() && (s.flags[s.lowWater] & (kReceived | kDamaged | kMayLose)))
      ++s.lowWater;
  }
}

void Ledger::Received(const std::uint8_t* data, std::size_t count) {
  if (count == 0) return;
  std::lock_guard guard(lock_);
  if (finished_) return;
  buffer_.insert(buffer_.end(), data, data + count);
  counts_.bytesReceived += static_cast<long long>(count);
  ParseLocked(false);
}

long long Ledger::Outstanding() const {
  std::lock_guard guard(lock_);
  long long outstanding = 0;
  for (const Stream& s : streams_) {
    for (std::size_t seq = s.lowWater; seq < s.flags.size(); ++seq) {
      const std::uint8_t f = s.flags[seq];
      if ((f & kCompletedOk) && !(f & (kMayLose | kReceived | kDamaged))) ++outstanding;
    }
  }
  return outstanding;
}

LedgerCounts Ledger::Counts() const {
  std::lock_guard guard(lock_);
  return counts_;
}

std::vector<Finding> Ledger::Findings() const {
  std::lock_guard guard(lock_);
  return findings_;
}

LedgerCounts Ledger::Finish() {
  std::lock_guard guard(lock_);
  if (finished_) return counts_;
  ParseLocked(true);
  finished_ = true;
  for (std::size_t t = 0; t < streams_.size(); ++t) {
    const auto& flags = streams_[t].flags;
    for (std::size_t seq = 0; seq < flags.size(); ++seq) {
      const std::uint8_t f = flags[seq];
      if (f & kReceived) continue;
      if (f & kMayLose) {
        ++counts_.expectedLost;
      } else if (f & kDamaged) {
        continue;  // counted when it arrived
      } else if (f & kCompletedOk) {
        Note(Finding::kLost, int(t), std::uint32_t(seq));
      } else if (f & kIssued) {
        ++counts_.unfinished;
      }
    }
  }
  return counts_;
}

void Ledger::AcceptLocked(int thread, std::uint32_t seq) {
  std::uint8_t* f = FlagsLocked(thread, seq);
  if (f == nullptr || !(*f & kIssued)) {
    Note(Finding::kCorrupted, thread, seq);  // intact, yet never sent
    return;
  }
  Stream& s = streams_[std::size_t(thread)];
  if (*f & (kReceived | kDamaged)) {
    Note(Finding::kDuplicated, thread, seq);
    return;
  }
  *f |= kReceived;
  if (static_cast<long long>(seq) < s.highest) {
    Note(Finding::kOutOfOrder, thread, seq);
  } else {
    ++counts_.delivered;
    s.highest = seq;
  }
}

void Ledger::DamagedLocked(std::size_t at, std::size_t regionLength) {
  const Header h = ParseHeader(buffer_.data() + at);
  std::uint8_t* f = FlagsLocked(h.thread, h.seq);
  if (f == nullptr || !(*f & kIssued)) {
    counts_.strayBytes += static_cast<long long>(regionLength);
    return;
  }
  Stream& s = streams_[std::size_t(h.thread)];
  s.highest = std::max(s.highest, static_cast<long long>(h.seq));
  if (*f & (kReceived | kDamaged)) {
    Note(Finding::kDuplicated, h.thread, h.seq);
    return;
  }
  const bool excused = (*f & kMayLose) != 0;
  *f |= kDamaged;
  if (excused) return;  // cut short by an abort or a purge
  // What reached the reader between this header and the next intact frame, against the frame's
  // length: bytes missing, bytes changed, bytes repeated.
  if (regionLength < h.length) {
    Note(Finding::kLost, h.thread, h.seq);
  } else if (regionLength == h.length) {
    Note(Finding::kCorrupted, h.thread, h.seq);
  } else {
    Note(Finding::kDuplicated, h.thread, h.seq);
  }
}

int Ledger::FrameAtLocked(std::size_t at, bool final) const {
  const std::size_t avail = buffer_.size() - at;
  const std::uint8_t* p = buffer_.data() + at;
  auto state = [&]() -> FrameState {
    if (avail >= 1 && p[0] != kMagic0) return FrameState::kBadHeader;
    if (avail >= 2 && p[1] != kMagic1) return FrameState::kBadHeader;
    if (avail < kHeaderSize) return final ? FrameState::kBadHeader : FrameState::kWait;
    if (std::uint8_t(Crc32(p, kHeaderSize - 1)) != p[kHeaderSize - 1] || p[2] >= streams_.size()) {
      return FrameState::kBadHeader;
    }
    const std::size_t length = ParseHeader(p).length;
    if (avail < length) return final ? FrameState::kBadBody : FrameState::kWait;
    return Crc32(p, length - kTrailerSize) == Le32(p + length - kTrailerSize)
               ? FrameState::kIntact
               : FrameState::kBadBody;
  }();
  return int(state);
}

void Ledger::ParseLocked(bool final) {
  constexpr int kWait = int(FrameState::kWait), kIntact = int(FrameState::kIntact),
                kBadHeader = int(FrameState::kBadHeader);
  while (start_ < buffer_.size()) {
    const std::size_t p = start_;
    const int here = FrameAtLocked(p, final);
    if (here == kWait) break;
    if (here == kIntact) {
      const Header h = ParseHeader(buffer_.data() + p);
      AcceptLocked(h.thread, h.seq);
      start_ = p + h.length;
      continue;
    }
    if (here == kBadHeader) {
      // Not a frame's start: up to the next magic byte is stray.
      std::size_t q = p + 1;
      while (q < buffer_.size() && buffer_[q] != kMagic0) ++q;
      counts_.strayBytes += static_cast<long long>(q - p);
      start_ = q;
      continue;
    }
    // A frame's header with a damaged body: the damage ends where the next intact frame starts.
    std::size_t q = p + 1;
    bool wait = false;
    for (; q < buffer_.size(); ++q) {
      if (buffer_[q] != kMagic0) continue;
      const int next = FrameAtLocked(q, final);
      if (next == kIntact) break;
      if (next == kWait) {
        wait = true;
        break;
      }
    }
    if (wait || (q == buffer_.size() && !final)) break;
    DamagedLocked(p, q - p);
    start_ = q;
  }
  if (start_ > (1u << 16) && start_ * 2 > buffer_.size()) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + long(start_));
    start_ = 0;
  }
}

}  // namespace qv::cli::soak
