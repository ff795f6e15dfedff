// The SetConfig test: both configuration routes round-trip and are left as they were, on the
// virtual port and on a pseudo-terminal; a route that does not keep the rate, cannot be read or
// does not take the old rate back fails by name; "\\.\COM1" works on COM1's stored default
// without opening the device.
#include <sys/inotify.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "drivertests/set_config.h"
#include "platform/comm/comm_api.h"
#include "tests/common/pty_pair.h"
#include "tests/drivertests/config_fixture.h"

namespace qv::test {
namespace {

using qv::comm::BaudPolicy;

DWORD DefaultRate(const std::string& device) {
  std::vector<DWORD> buffer(1076 / sizeof(DWORD));
  auto* config = reinterpret_cast<COMMCONFIG*>(buffer.data());
  DWORD size = 1076;
  return GetDefaultCommConfigA(device.c_str(), config, &size) ? config->dcb.BaudRate : 0;
}

bool SetDefaultRate(const std::string& device, DWORD rate) {
  std::vector<DWORD> buffer(1076 / sizeof(DWORD));
  auto* config = reinterpret_cast<COMMCONFIG*>(buffer.data());
  DWORD size = 1076;
  if (!GetDefaultCommConfigA(device.c_str(), config, &size)) return false;
  config->dcb.BaudRate = rate;
  return SetDefaultCommConfigA(device.c_str(), config, size);
}

DWORD PortRate() {
  DCB dcb{};
  return GetCommState(hPort, &dcb) ? dcb.BaudRate : 0;
}

class SetConfigPanel : public ConfigPanelTest {
 protected:
  std::string Run() {
    Panel().SendCommand(IDC_RUN_SETCONFIG);
    return PanelText(IDC_SETCONFIG_STATUS);
  }
};

TEST_F(SetConfigPanel, SucceedsAndLeavesBothConfigurationsAsTheyWere) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  // Odd rates: what is put back is the rate read at first, not twice its half.
  for (const std::string& port : {std::string("\\\\.\\vloop0"), pty.path()}) {
    SCOPED_TRACE(port);
    const std::string device = qv::drivertests::SetConfigDeviceName(port);
    ASSERT_TRUE(SetDefaultRate(device, 57601));
    OpenPort(port);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(hPort, &dcb));
    dcb.BaudRate = 38401;
    ASSERT_TRUE(SetCommState(hPort, &dcb));
    EXPECT_EQ(Run(), "Success");
    EXPECT_EQ(DefaultRate(device), 57601u);
    EXPECT_EQ(PortRate(), 38401u);
    Dlg().SendCommand(IDC_OPENCLOSE);
  }
}

TEST_F(SetConfigPanel, NamesTheRouteThatDidNotKeepTheRate) {
  OpenPort("\\\\.\\vloop0");  // at 9600, the port's default rate too

  // The default store refuses 4800.
  qv::comm::SetBaudPolicy("vloop0", {BaudPolicy::kList, {9600, 115200}});
  EXPECT_EQ(Run(), "SetDefaultCommConfig failed");
  EXPECT_EQ(DefaultRate("vloop0"), 9600u);

  // The default keeps 4800, the port (now at 38400) refuses 19200.
  qv::comm::SetBaudPolicy("vloop0", {BaudPolicy::kList, {4800, 9600, 38400}});
  ChooseSpeed(QStringLiteral("38400 bps"));
  ASSERT_EQ(PortRate(), 38400u);
  EXPECT_EQ(Run(), "SetCommConfig failed");
  EXPECT_EQ(DefaultRate("vloop0"), 9600u);
  EXPECT_EQ(PortRate(), 38400u);

  // A driver that rounds the half to a neighbour has not kept it either, and the neighbour does
  // not stay in the user's place: the rate read at first goes back, in either route.
  const struct {
    std::vector<DWORD> rates;
    const char* verdict;
  } rounding[] = {
      {{2400, 9600, 38400}, "SetDefaultCommConfig failed"},  // 4800 runs as 2400
      {{4800, 9600, 38400}, "SetCommConfig failed"},         // 19200 runs as 9600
  };
  for (const auto& r : rounding) {
    qv::comm::SetBaudPolicy("vloop0", {BaudPolicy::kNearest, r.rates});
    EXPECT_EQ(Run(), r.verdict);
    EXPECT_EQ(DefaultRate("vloop0"), 9600u);
    EXPECT_EQ(PortRate(), 38400u);
  }

  // Taking the half but not the old rate back leaves the default changed: no success.
  qv::comm::SetBaudPolicy("vloop0", {BaudPolicy::kList, {4800}});
  EXPECT_EQ(Run(), "SetDefaultCommConfig failed");
  EXPECT_EQ(DefaultRate("vloop0"), 4800u);

  // A device without a default configuration has not kept anything.
  qv::comm::SetBaudPolicy("vloop0", {});
  TypePort("\\\\.\\nosuchport0");
  EXPECT_EQ(Run(), "SetDefaultCommConfig failed");
}

TEST_F(SetConfigPanel, WorksOnComOnesDefaultWithoutOpeningIt) {
  OpenPort("\\\\.\\vloop0");
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, "/dev/ttyS0", IN_OPEN), 0);
  const DWORD before = DefaultRate("COM1");
  ASSERT_NE(before, 0u);
  TypePort("\\\\.\\COM1");
  EXPECT_EQ(Run(), "Success");
  EXPECT_EQ(DefaultRate("COM1"), before);
  char events[4096];
  EXPECT_LE(::read(watch, events, sizeof events), 0) << "/dev/ttyS0 was opened";
  ::close(watch);
}

}  // namespace
}  // namespace qv::test
