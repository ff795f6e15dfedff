// The real line service, loaded from beside the suite as the program loads it, with a callback
// that records every message and a bounded pump of the test thread's event loop.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/devices/port_source.h"
#include "telephony/line_types.h"
#include "telephony/telephony_loader.h"
#include "tests/common/event_pump.h"

namespace qv::test {

struct LineMessage {
  DWORD device, message, instance, p1, p2, p3;
};

class LineServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qv::telephony::UseLibraryBinderForTests(nullptr);  // the real library, looked up afresh
    Messages().clear();
    ASSERT_EQ(lineInitialize(&app_, nullptr, &Record, nullptr, &count_), 0)
        << "libtapi32.so beside the suite did not load";
  }
  void TearDown() override {
    if (app_ != 0) {
      EXPECT_EQ(lineShutdown(app_), 0);
    }
  }

  // Registers anew with `ports` as the system's port list. The service's device watch reads that
  // list from its own thread, so the list is installed before the watch starts and stays until
  // TearDown has stopped it.
  void RestartWithPorts(std::vector<qv::devices::PortEntry> ports) {
    ASSERT_EQ(lineShutdown(app_), 0);
    app_ = 0;
    ports_ = std::make_unique<qv::devices::FakePortSource>(std::move(ports));
    installedPorts_ = std::make_unique<qv::devices::ScopedPortSource>(*ports_);
    ASSERT_EQ(lineInitialize(&app_, nullptr, &Record, nullptr, &count_), 0);
  }

  static std::vector<LineMessage>& Messages() {
    static std::vector<LineMessage> messages;
    return messages;
  }
  static void Record(DWORD device, DWORD message, DWORD instance, DWORD p1, DWORD p2, DWORD p3) {
    Messages().push_back({device, message, instance, p1, p2, p3});
  }
  static bool WaitUntil(const std::function<bool()>& done, int ms = 5000) {
    return PumpEventsUntil(done, ms);
  }
  static int CountOf(DWORD message, DWORD p1) {
    int n = 0;
    for (const auto& m : Messages()) n += m.message == message && m.p1 == p1;
    return n;
  }

  // The device whose data-modem port is `port`, or -1.
  int DeviceOf(const std::string& port) {
    for (DWORD id = 0; id < count_; ++id) {
      HLINE line = 0;
      if (lineOpen(app_, id, &line, TAPI_VERSION_1_4, 0, 0, LINECALLPRIVILEGE_NONE,
                   LINEMEDIAMODE_DATAMODEM, nullptr) != 0)
        continue;
      const std::string name = PortNameOf(line);
      lineClose(line);
      if (name == port) return int(id);
    }
    return -1;
  }
  static std::string PortNameOf(HLINE line) {
    std::vector<DWORD> words(64, 0);
    auto* vs = reinterpret_cast<VARSTRING*>(words.data());
    vs->dwTotalSize = DWORD(words.size() * 4);
    if (lineGetID(line, 0, 0, LINECALLSELECT_LINE, vs, "comm/datamodem/portname") != 0) return {};
    return reinterpret_cast<const char*>(words.data()) + vs->dwStringOffset;
  }
  HLINE OpenLine(DWORD id) {
    HLINE line = 0;
    EXPECT_EQ(lineOpen(app_, id, &line, TAPI_VERSION_1_4, 0, 0, LINECALLPRIVILEGE_NONE,
                       LINEMEDIAMODE_DATAMODEM, nullptr),
              0);
    return line;
  }
  static LINECALLPARAMS PassThrough() {
    LINECALLPARAMS p{};
    p.dwTotalSize = sizeof p;
    p.dwBearerMode = LINEBEARERMODE_PASSTHROUGH;
    p.dwMediaMode = LINEMEDIAMODE_DATAMODEM;
    return p;
  }

  HLINEAPP app_ = 0;
  DWORD count_ = 0;
  std::unique_ptr<qv::devices::FakePortSource> ports_;
  std::unique_ptr<qv::devices::ScopedPortSource> installedPorts_;
};

}  // namespace qv::test
