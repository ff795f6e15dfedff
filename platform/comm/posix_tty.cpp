#include "platform/comm/posix_tty.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <map>
#include <mutex>

namespace qv::comm {
namespace {

class KernelTtyImpl final : public Tty {
 public:
  explicit KernelTtyImpl(int fd) : fd_(fd) {}
  ~KernelTtyImpl() override { ::close(fd_); }
  int fd() const override { return fd_; }
  ssize_t Write(const void* data, std::size_t count) override { return ::write(fd_, data, count); }
  ssize_t Read(void* data, std::size_t count) override { return ::read(fd_, data, count); }
  int Ioctl(unsigned long request, void* arg) override { return ::ioctl(fd_, request, arg); }
  int Poll(pollfd* fds, nfds_t count, int timeoutMs) override {
    return ::poll(fds, count, timeoutMs);
  }
  int Configure(const TtySettings& s, std::uint32_t* actualBaud, TtyKernelCopy* last) override {
    return TtyConfigure(fd_, s, actualBaud, last);
  }
  int FlushInput() override { return TtyFlushInput(fd_); }
  int FlushOutput() override { return TtyFlushOutput(fd_); }
  int RestartOutput() override { return TtyRestartOutput(fd_); }

 private:
  const int fd_;
};

std::mutex wrappersMu;
std::map<std::string, TtyWrapper>& Wrappers() {
  static std::map<std::string, TtyWrapper> wrappers;
  return wrappers;
}

}  // namespace

std::unique_ptr<Tty> KernelTty(int fd) { return std::make_unique<KernelTtyImpl>(fd); }

void SetTtyWrapper(const std::string& path, TtyWrapper wrap) {
  std::lock_guard lock(wrappersMu);
  if (wrap) {
    Wrappers()[path] = std::move(wrap);
  } else {
    Wrappers().erase(path);
  }
}

std::unique_ptr<Tty> OpenTty(const std::string& path, int fd) {
  TtyWrapper wrap;
  {
    std::lock_guard lock(wrappersMu);
    if (!Wrappers().empty()) {
      if (auto it = Wrappers().find(path); it != Wrappers().end()) wrap = it->second;
    }
  }
  auto tty = KernelTty(fd);
  return wrap ? wrap(std::move(tty)) : std::move(tty);
}

}  // namespace qv::comm
