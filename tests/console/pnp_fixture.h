// The console with its plug-and-play watch: notifications made from records, the log's lines,
// Open on PNP, and the virtual ports plugged and unplugged.
#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QStringList>
#include <mutex>
#include <string>
#include <vector>

#include "console/log_view.h"
#include "drivertests/port_handle.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/devices/device_broadcast.h"
#include "platform/devices/port_source.h"
#include "platform/sync/debug_output.h"
#include "tests/console/console_fixture.h"

namespace qv::test {

// A port source that the watch's thread may read while the test changes it.
class LockedPortSource : public qv::devices::PortSource {
 public:
  std::vector<qv::devices::PortEntry> Ports() override {
    std::lock_guard guard(lock_);
    return ports_;
  }
  qv::devices::DeviceList DeviceDescriptions() override { return {}; }
  void Set(std::vector<qv::devices::PortEntry> ports) {
    std::lock_guard guard(lock_);
    ports_ = std::move(ports);
  }
  void Add(qv::devices::PortEntry entry) {
    std::lock_guard guard(lock_);
    ports_.push_back(std::move(entry));
  }

 private:
  std::mutex lock_;
  std::vector<qv::devices::PortEntry> ports_;
};


class PnpTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    qv::sync::SetDebugOutputToStderr(false);
  }
  void TearDown() override {
    ConsoleTest::TearDown();  // a port left open is closed with the window
    qv::comm::ResetVirtualPort("vloop0");
    qv::sync::SetDebugOutputToStderr(true);
  }

  static bool IsOpen() { return hPort != INVALID_HANDLE_VALUE; }
  void Check(int id, bool on) {
    auto* box = Dlg().Item<QAbstractButton>(id);
    if (box->isChecked() != on) box->click();  // the click moves the value into the member
  }
  bool Checked(int id) { return Dlg().IsDlgButtonChecked(id) == BST_CHECKED; }
  void TypePort(const QString& text) { Dlg().Item<QComboBox>(IDC_PORT)->setEditText(text); }
  void Toggle() { Dlg().SendCommand(IDC_OPENCLOSE); }

  LPARAM Notify(UINT code, const qv::devices::BroadcastRecord& record) {
    return Dlg().OnDeviceChange(code, reinterpret_cast<LPARAM>(record.Header()));
  }
  // The log's entries ("<...>" each), without the brackets.
  QStringList LogLines() {
    QStringList lines;
    for (const QString& l : Dlg().Log()->Text().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
      if (l.startsWith(u'<') && l.endsWith(u'>')) lines << l.mid(1, l.size() - 2);
    return lines;
  }
  int LinesStartingWith(const QString& prefix) {
    int n = 0;
    for (const QString& l : LogLines()) n += l.startsWith(prefix);
    return n;
  }
  static int TraceCount(const char* text) {
    const std::string all = qv::sync::DebugOutputCaptured();
    int n = 0;
    for (std::size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
    return n;
  }
};

}  // namespace qv::test
