// Two sides of a benchmark measured in alternating rounds (A, B, A, B, ...), so that a busy moment
// of the machine falls on both sides alike. A round repeats its side until it has run for at
// least a minimum time; it records the bytes moved, the wall time and the CPU time of the whole
// process (every thread: the caller, the port's threads and the far end). Every round is printed,
// then each side's median, lowest and highest rate and CPU per MB, and the median of the rounds'
// ratios B / A, which is the figure the target is for.
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace qv::bench {

struct Round {
  double bytes = 0;
  double seconds = 0;
  double cpuSeconds = 0;
  double Rate() const { return bytes / seconds; }  // bytes per second
  double CpuMsPerMb() const { return cpuSeconds * 1000.0 / (bytes / 1048576.0); }
};

inline double ProcessCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// side() moves some bytes and returns how many.
inline Round MeasureRound(const std::function<double()>& side, double minSeconds) {
  using Clock = std::chrono::steady_clock;
  Round round;
  const double cpu = ProcessCpuSeconds();
  const auto start = Clock::now();
  do {
    round.bytes += side();
    round.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  } while (round.seconds < minSeconds);
  round.cpuSeconds = ProcessCpuSeconds() - cpu;
  return round;
}

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Comparison {
  double ratio = 0;     // median of the rounds' rate ratios B / A
  double cpuRatio = 0;  // median of the rounds' CPU-per-MB ratios B / A
};

struct Side {
  const char* name;
  std::function<double()> run;
};

// Prints every round and the summary; `what` heads the block.
inline Comparison CompareInRounds(const char* what, const Side& a, const Side& b, int rounds,
                                  double minSeconds) {
  std::printf("%s: %d alternating rounds of at least %.1f s a side\n", what, rounds, minSeconds);
  std::vector<Round> ra, rb;
  std::vector<double> ratios, cpuRatios;
  for (int i = 0; i < rounds; ++i) {
    ra.push_back(MeasureRound(a.run, minSeconds));
    rb.push_back(MeasureRound(b.run, minSeconds));
    ratios.push_back(rb.back().Rate() / ra.back().Rate());
    cpuRatios.push_back(rb.back().CpuMsPerMb() / ra.back().CpuMsPerMb());
    std::printf(
        "  round %d: %s %8.1f MB/s %6.2f ms CPU/MB | %s %8.1f MB/s %6.2f ms CPU/MB | "
        "ratio %.2f\n",
        i + 1, a.name, ra.back().Rate() / 1048576.0, ra.back().CpuMsPerMb(), b.name,
        rb.back().Rate() / 1048576.0, rb.back().CpuMsPerMb(), ratios.back());
  }
  for (const auto& [side, list] : {std::pair{&a, &ra}, std::pair{&b, &rb}}) {
    std::vector<double> rates, cpu;
    for (const Round& r : *list) {
      rates.push_back(r.Rate() / 1048576.0);
      cpu.push_back(r.CpuMsPerMb());
    }
    const auto [low, high] = std::minmax_element(rates.begin(), rates.end());
    std::printf(
        "  %s: median %.1f MB/s (lowest %.1f, highest %.1f: spread %.2fx), "
        "median %.2f ms CPU/MB\n",
        side->name, Median(rates), *low, *high, *high / *low, Median(cpu));
  }
  Comparison c{Median(ratios), Median(cpuRatios)};
  std::printf("  ratio %s/%s %.2f (median of %d rounds), CPU per MB %s/%s %.2f\n", b.name, a.name,
              c.ratio, rounds, b.name, a.name, c.cpuRatio);
  return c;
}

}  // namespace qv::bench
