#include "tests/drivertests/kernel_rates.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace qv::test {

std::string KernelKeptRates(const std::string& path, DWORD last) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "cannot open " + path;
  struct termios2 t;
  ioctl(fd, TCGETS2, &t);
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  std::vector<std::pair<DWORD, DWORD>> runs;
  for (DWORD rate = 1; rate <= last; ++rate) {
    t.c_ospeed = t.c_ispeed = rate;
    struct termios2 back;
    const bool kept =
        ioctl(fd, TCSETS2, &t) == 0 && ioctl(fd, TCGETS2, &back) == 0 && back.c_ospeed == rate;
    if (!kept) continue;
    if (!runs.empty() && runs.back().second == rate - 1) {
      runs.back().second = rate;
    } else {
      runs.emplace_back(rate, rate);
    }
  }
  ::close(fd);
  std::string list;
  for (const auto& [first, end] : runs) {
    if (!list.empty()) list += ", ";
    list += std::to_string(first);
    if (end != first || end == last) list += "-" + std::to_string(end);
  }
  return list;
}

}  // namespace qv::test
