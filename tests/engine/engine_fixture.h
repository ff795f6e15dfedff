// Shared set-up of the engine suites: a recording console, scripted boxes, a scratch current
// directory for the record files, and the two kinds of port the engine runs on in tests (the
// virtual loop-back plug and a pseudo-terminal pair with the test as far end).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/comm.h"
#include "platform/comm/comm_api.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/sync/debug_output.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "platform/sync/thread.h"
#include "tests/common/pty_pair.h"
#include "tests/common/scripted_boxes.h"

namespace qv::test {

using Bytes = std::vector<BYTE>;

// Polls a condition until it holds or the bound runs out.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds bound = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline Bytes FileBytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Bytes Pattern(std::size_t count, unsigned seed) {
  Bytes bytes(count);
  unsigned x = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<BYTE>(x >> 16);
  }
  return bytes;
}

// The console as the engine sees it: log entries, received chunks, close requests.
class RecordingConsole : public ConsoleSink {
 public:
  void LogText(const char* text) override {
    std::lock_guard guard(lock_);
    log_.emplace_back(text);
  }
  int OnCommData(const BYTE* data, DWORD count) override {
    if (onData) return onData(data, count);
    return Keep(data, count);
  }
  void RequestClose() override {
    {
      std::lock_guard guard(lock_);
      ++closeRequests_;
    }
    if (onRequestClose) onRequestClose();
  }

  // Stores a chunk (what the default OnCommData does).
  int Keep(const BYTE* data, DWORD count) {
    std::lock_guard guard(lock_);
    received_.insert(received_.end(), data, data + count);
    chunks_.push_back(count);
    return 1;
  }
  Bytes Received() const {
    std::lock_guard guard(lock_);
    return received_;
  }
  std::vector<DWORD> Chunks() const {
    std::lock_guard guard(lock_);
    return chunks_;
  }
  std::vector<std::string> Log() const {
    std::lock_guard guard(lock_);
    return log_;
  }
  int CloseRequests() const {
    std::lock_guard guard(lock_);
    return closeRequests_;
  }
  CommDataCallback Callback() {
    return [this](const BYTE* data, DWORD count) { return OnCommData(data, count); };
  }

  std::function<int(const BYTE*, DWORD)> onData;
  std::function<void()> onRequestClose;  // on the engine thread that asks, after counting

 private:
  mutable std::mutex lock_;
  std::vector<std::string> log_;
  Bytes received_;
  std::vector<DWORD> chunks_;
  int closeRequests_ = 0;
};


// Opens a port for overlapped I/O and sets it to the given speed, 8N1, no flow control, DTR on.
inline HANDLE OpenOverlapped8N1(const std::string& name, DWORD baud) {
  HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) return port;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  GetCommState(port, &dcb);
  dcb.BaudRate = baud;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  SetCommState(port, &dcb);
  return port;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qv::sync::SetDebugOutputToStderr(false);
    qv::sync::ClearDebugOutputCapture();
    previousDir_ = std::filesystem::current_path();
    scratch_ = std::filesystem::temp_directory_path() /
               ("qv_engine_" + std::to_string(::getpid()) + "_" + std::to_string(++counter_));
    std::filesystem::create_directories(scratch_);
    std::filesystem::current_path(scratch_);
    CommConnection.console = &console;
    CommConnection.LogData = 0;
    CommConnection.ReadBlockSize = 4096;
    CommConnection.ReadBufferSize = 4096;
    CommConnection.WriteRequested = 0;
    CommConnection.WriteCompleted = 0;
    threadsBefore_ = qv::sync::RunningThreadCount();
  }

  void TearDown() override {
    StopComm(0);
    if (port != INVALID_HANDLE_VALUE && port != nullptr) CloseHandle(port);
    port = INVALID_HANDLE_VALUE;
    qv::comm::ResetVirtualPort("vloop0");
    // Every engine thread has ended.
    EXPECT_TRUE(WaitUntil([&] { return qv::sync::RunningThreadCount() <= threadsBefore_; }))
        << qv::sync::RunningThreadCount() << " threads left";
    CommConnection.console = nullptr;
    CommConnection.LogData = 0;
    std::filesystem::current_path(previousDir_);
    std::filesystem::remove_all(scratch_);
    qv::sync::SetDebugOutputToStderr(true);
  }

  // Opens a port for overlapped I/O at the given speed, 8N1, no flow control.
  HANDLE Open(const std::string& name, DWORD baud = 921600) {
    port = OpenOverlapped8N1(name, baud);
    return port;
  }

  bool Start() { return StartComm(port, console.Callback()) == 1; }

  static std::string Trace() { return qv::sync::DebugOutputCaptured(); }
  // Position of text in the trace after position from (npos when absent).
  static std::size_t TraceFind(const std::string& text, std::size_t from = 0) {
    return Trace().find(text, from);
  }
  static bool TraceHas(const std::string& text) { return TraceFind(text) != std::string::npos; }

  RecordingConsole console;
  TestMessageBoxes boxes;
  HANDLE port = INVALID_HANDLE_VALUE;

 private:
  std::filesystem::path previousDir_;
  std::filesystem::path scratch_;
  int threadsBefore_ = 0;
  static inline int counter_ = 0;
};

}  // namespace qv::test
