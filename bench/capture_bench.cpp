// The capture's cost on a flood: bytes streamed through the engine to a socat pseudo-terminal
// whose far end (cat) sends everything back, with and without a capture running, in alternating
// rounds. Prints the process's CPU time per MB of each round (every thread: the caller, the
// engine's, the driver's, the capture's writer) and the median ratio capture / plain; after each
// capture round, checks that the file holds every byte sent and every byte received, in order.
//
//   capture_bench [MB a round, default 20] [rounds, default 5] [block size, default 4096]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "bench/bench_port.h"
#include "bench/rounds.h"
#include "capture/capture_format.h"
#include "capture/capture_writer.h"
#include "engine/comm.h"
#include "platform/comm/comm_api.h"
#include "platform/sync/debug_output.h"
#include "platform/sync/kernel_object.h"
#include "tests/common/socat_cat.h"

namespace {

using Clock = std::chrono::steady_clock;

std::uint8_t PatternByte(std::uint64_t at) {
  return std::uint8_t((at * 2654435761u) >> 13 ^ at >> 7);
}

std::mutex mu;
std::condition_variable arrived;
std::atomic<std::uint64_t> received{0};
std::atomic<std::uint64_t> receivedWrong{0};

int Sink(const BYTE* data, DWORD count) {
  std::uint64_t at = received.load();
  for (DWORD i = 0; i < count; ++i)
    if (data[i] != PatternByte(at + i)) receivedWrong.fetch_add(1);
  received.fetch_add(count);
  arrived.notify_one();
  return 1;
}

// One flood of `total` bytes; blocks are written while at most `window` of them are on their
// way back.
qv::bench::Round Flood(const std::string& path, std::uint64_t total, DWORD block) {
  constexpr std::uint64_t kWindow = 16;
  std::vector<BYTE> buffer(block);
  received = 0;
  receivedWrong = 0;
  const HANDLE port = qv::bench::OpenBenchPort(path);
  if (!StartComm(port, Sink)) std::exit(1);
  const double cpu = qv::bench::ProcessCpuSeconds();
  const auto start = Clock::now();
  std::uint64_t sent = 0;
  while (received.load() < total) {
    if (sent < total && sent < received.load() + kWindow * block) {
      const DWORD n = DWORD(std::min<std::uint64_t>(block, total - sent));
      for (DWORD i = 0; i < n; ++i) buffer[i] = PatternByte(sent + i);
      WriteCommBufferFrom("bench", buffer.data(), n);
      sent += n;
      continue;
    }
    std::unique_lock lock(mu);
    arrived.wait_for(lock, std::chrono::milliseconds(5));
    if (Clock::now() - start > std::chrono::seconds(300)) {
      std::fprintf(stderr, "the flood stalled at %llu of %llu bytes\n",
                   static_cast<unsigned long long>(received.load()),
                   static_cast<unsigned long long>(total));
      std::exit(1);
    }
  }
  qv::bench::Round round;
  round.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  round.cpuSeconds = qv::bench::ProcessCpuSeconds() - cpu;
  round.bytes = double(total);
  StopComm(1);
  if (receivedWrong != 0) {
    std::fprintf(stderr, "%llu bytes came back altered\n",
                 static_cast<unsigned long long>(receivedWrong.load()));
    std::exit(1);
  }
  return round;
}

// Every byte sent and received, in order, in the capture's file.
bool CheckCapture(const std::string& file, std::uint64_t total) {
  std::ifstream in(file, std::ios::binary);
  std::string line;
  std::getline(in, line);
  std::uint64_t at[2] = {0, 0};  // RX, TX
  std::uint64_t wrong = 0;
  std::uint64_t dropped = 0;
  qv::capture::Event event;
  std::string error;
  while (std::getline(in, line)) {
    if (!qv::capture::ParseEvent(line, &event, &error)) {
      std::printf("  capture: bad line: %s\n", error.c_str());
      return false;
    }
    if (event.kind == qv::capture::Kind::kDropped) ++dropped;
    if (event.kind != qv::capture::Kind::kRx && event.kind != qv::capture::Kind::kTx) continue;
    std::uint64_t& position = at[event.kind == qv::capture::Kind::kTx ? 1 : 0];
    for (const std::uint8_t byte : event.bytes) wrong += byte != PatternByte(position++);
  }
  std::printf("  capture: %llu bytes TX, %llu bytes RX, %llu out of place, %llu DROPPED lines\n",
              static_cast<unsigned long long>(at[1]), static_cast<unsigned long long>(at[0]),
              static_cast<unsigned long long>(wrong), static_cast<unsigned long long>(dropped));
  return at[0] == total && at[1] == total && wrong == 0 && dropped == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 20;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const DWORD block = argc > 3 ? DWORD(std::strtoul(argv[3], nullptr, 10)) : 4096;
  const std::uint64_t total = megabytes << 20;
  qv::sync::SetDebugOutputToStderr(false);
  qv::test::SocatCat far;
  if (!far.ok()) {
    std::fprintf(stderr, "socat did not start\n");
    return 1;
  }
  char folder[] = "/tmp/qv-capture-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  const std::string file = std::string(folder) + "/flood.txt";

  std::vector<double> plainCpu, captureCpu, ratios;
  bool allThere = true;
  for (int r = 0; r < rounds; ++r) {
    const qv::bench::Round plain = Flood(far.path(), total, block);
    std::string error;
    if (!qv::capture::LineCapture().StartFile(file, far.path(), "bench", &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    const qv::bench::Round captured = Flood(far.path(), total, block);
    const qv::capture::CaptureSummary summary = qv::capture::LineCapture().Stop();
    std::printf(
        "round %d: plain %.1f MB/s %.1f ms CPU/MB; capture %.1f MB/s %.1f ms CPU/MB "
        "(dropped %llu, file %.0f MB)\n",
        r + 1, plain.Rate() / 1048576.0, plain.CpuMsPerMb(), captured.Rate() / 1048576.0,
        captured.CpuMsPerMb(), static_cast<unsigned long long>(summary.dropped),
        double(std::ifstream(file, std::ios::binary | std::ios::ate).tellg()) / 1048576.0);
    allThere = CheckCapture(file, total) && allThere;
    plainCpu.push_back(plain.CpuMsPerMb());
    captureCpu.push_back(captured.CpuMsPerMb());
    ratios.push_back(captured.CpuMsPerMb() / plain.CpuMsPerMb());
  }
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::printf(
      "median CPU per MB: plain %.1f ms, capture %.1f ms; median ratio capture/plain %.2f\n",
      median(plainCpu), median(captureCpu), median(ratios));
  std::printf("every byte in the capture, in order: %s\n", allThere ? "yes" : "NO");
  ::unlink(file.c_str());
  ::rmdir(folder);
  return allThere ? 0 : 1;
}
