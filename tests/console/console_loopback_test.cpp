// Data from a real engine connection on the virtual loop-back plug reaches the log whole and in
// order, with the engine's read thread handing each chunk to the UI thread; closing the console
// with the port open stops the engine before the handle is closed.
#include <QAbstractButton>

#include "console/log_view.h"
#include "console/received_text.h"
#include "drivertests/port_handle.h"
#include "engine/comm.h"
#include "platform/comm/comm_api.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/sync/kernel_object.h"
#include "tests/console/console_fixture.h"
#include "tools/tool_states.h"

using qv::test::ConsoleTest;

namespace {

std::vector<BYTE> Pattern(std::size_t count) {
  std::vector<BYTE> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = BYTE((i * 7 + i / 251) & 0xFF);
  return bytes;
}

HANDLE OpenLoopback() {
  HANDLE h = CreateFileA("\\\\.\\vloop0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) return h;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  GetCommState(h, &dcb);
  dcb.BaudRate = 115200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  SetCommState(h, &dcb);
  return h;
}

}  // namespace

TEST_F(ConsoleTest, LoopbackDataAppearsWholeAndInOrder) {
  CQuorvixDlg& dlg = Open();
  dlg.Item<QAbstractButton>(IDC_VERBOSE)->click();  // only received data in the log
  dlg.Log()->Clear();
  hPort = OpenLoopback();
  ASSERT_NE(hPort.Load(), INVALID_HANDLE_VALUE);
  ASSERT_EQ(StartComm(hPort, ConsoleReceive), 1);

  const std::vector<BYTE> data = Pattern(6000);  // zero bytes included
  for (std::size_t at = 0; at < data.size(); at += 1000)
    ASSERT_EQ(WriteCommBuffer(data.data() + at, 1000), 1);
  const QString expected = qv::console::ReceivedText(data.data(), DWORD(data.size()));
  EXPECT_TRUE(WaitUntil([&] { return dlg.Log()->Length() >= expected.size(); }, 20000));
  EXPECT_EQ(dlg.Log()->Text(), expected);
  EXPECT_EQ(dlg.StatesPanel()->ReceivedBytes(), long(data.size()));

  // Closing with the port open: the engine stops, then the handle is closed, then the settings
  // are written.
  Close();
  EXPECT_EQ(hPort.Load(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CommConnection.hPort.Load(), nullptr) << "the engine holds no connection";
  EXPECT_EQ(CommConnection.console.Load(), nullptr);
  EXPECT_TRUE(qv::store::HasProfileEntry("Settings", "WindowPlacement"));
  // The port can be opened again: the console's handle was really closed.
  HANDLE again = OpenLoopback();
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
}

TEST_F(ConsoleTest, HexModeOverTheLoopback) {
  CQuorvixDlg& dlg = Open();
  dlg.Item<QAbstractButton>(IDC_VERBOSE)->click();
  dlg.Item<QAbstractButton>(IDC_HEXA)->click();
  dlg.Log()->Clear();
  hPort = OpenLoopback();
  ASSERT_NE(hPort.Load(), INVALID_HANDLE_VALUE);
  ASSERT_EQ(StartComm(hPort, ConsoleReceive), 1);
  const BYTE bytes[] = {0x00, 0x41, 0x0D, 0x0A, 0xFF};
  ASSERT_EQ(WriteCommBuffer(bytes, sizeof bytes), 1);
  const QString expected = "<00>\t<41>\t<0D>\t<0A>\t<FF>\t";
  EXPECT_TRUE(WaitUntil([&] { return dlg.Log()->Length() >= expected.size(); }, 20000));
  EXPECT_EQ(dlg.Log()->Text(), expected);
  Close();
  EXPECT_EQ(hPort.Load(), INVALID_HANDLE_VALUE);
}
