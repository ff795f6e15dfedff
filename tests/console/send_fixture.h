// Set-up shared by the sending tests: a scratch current directory (the record files land there),
// settings in a temporary folder, scripted boxes, ports opened the way the console opens them,
// and a stand-in for the write thread that keeps request boundaries visible.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/comm.h"
#include "platform/comm/comm_api.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/store/profile_store.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/message_queue.h"
#include "platform/ui/qt/dialog_service.h"
#include "platform/ui/qt/qt_ui.h"
#include "tests/common/scripted_boxes.h"
#include "tests/engine/engine_fixture.h"

namespace qv::test {

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Stands in for the engine's write thread: WriteComm posts to the test's own thread, and Take
// hands back one entry per request (freeing the buffers as the write thread would).
class CapturedRequests {
 public:
  CapturedRequests() {
    qv::sync::EnsureCurrentThreadQueue();
    CommConnection.hWriteThread = reinterpret_cast<HANDLE>(std::intptr_t(0x7e57));
    CommConnection.dwWriteThreadId = GetCurrentThreadId();
  }
  ~CapturedRequests() {
    Take();
    CommConnection.hWriteThread = nullptr;
    CommConnection.dwWriteThreadId = 0;
  }
  std::vector<Bytes> Take() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message != WM_COMM_WRITE) continue;
      auto* p = reinterpret_cast<BYTE*>(m.lParam);
      requests_.emplace_back(p, p + WriteRequestCount(m.wParam));
      std::free(p);
    }
    return requests_;
  }

 private:
  std::vector<Bytes> requests_;
};

class SendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store_.isValid());
    qv::store::UseFolderForTests(store_.path());
    static const bool installed = [] {
      qv::ui::InstallQtUi();
      return true;
    }();
    (void)installed;
    previousDir_ = std::filesystem::current_path();
    scratch_ = std::filesystem::temp_directory_path() /
               ("qv_send_" + std::to_string(::getpid()) + "_" + std::to_string(++counter_));
    std::filesystem::create_directories(scratch_);
    std::filesystem::current_path(scratch_);
    CommConnection.console = &console;
    CommConnection.LogData = 0;
    CommConnection.WriteRequested = 0;
    CommConnection.WriteCompleted = 0;
  }

  void TearDown() override {
    StopComm(0);
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
    port = INVALID_HANDLE_VALUE;
    qv::comm::ResetVirtualPort("vloop0");
    qv::comm::ResetVirtualPort("vphone0");
    CommConnection.console = nullptr;
    CommConnection.LogData = 0;
    std::filesystem::current_path(previousDir_);
    std::filesystem::remove_all(scratch_);
  }

  // Opens the port overlapped at the speed given, 8N1, no flow control, with DTR on, and starts
  // the engine on it with the recording console.
  bool Start(const std::string& name, DWORD baud) {
    port = OpenOverlapped8N1(name, baud);
    if (port == INVALID_HANDLE_VALUE) return false;
    return StartComm(port, console.Callback()) == 1;
  }

  // Waits until the record of sent data holds count bytes (the write thread appends after each
  // completed chunk).
  static Bytes SentLog(std::size_t count) {
    WaitUntil([&] { return FileBytes("data_sent.log").size() >= count; });
    return FileBytes("data_sent.log");
  }
  Bytes Received(std::size_t count) {
    WaitUntil([&] { return console.Received().size() >= count; });
    return console.Received();
  }

  RecordingConsole console;
  TestMessageBoxes boxes;
  HANDLE port = INVALID_HANDLE_VALUE;

 private:
  QTemporaryDir store_;
  std::filesystem::path previousDir_;
  std::filesystem::path scratch_;
  static inline int counter_ = 0;
};

}  // namespace qv::test
