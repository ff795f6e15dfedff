// The port list: labels from the port source, the control's order, the edit field left alone, the
// port name read back, and the device list command.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <algorithm>
#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "console/port_discovery.h"
#include "platform/devices/port_source.h"
#include "platform/ui/message_box.h"
#include "tests/common/scripted_boxes.h"

using qv::devices::DeviceList;
using qv::devices::FakePortSource;
using qv::devices::PortEntry;
using qv::devices::ScopedPortSource;

namespace {

const std::string kPadding(22, ' ');

std::vector<QString> Items(const QComboBox& combo) {
  std::vector<QString> items;
  for (int i = 0; i < combo.count(); ++i) items.push_back(combo.itemText(i));
  return items;
}

// An editable, sorted port combo box as the console's template makes it.
std::unique_ptr<QComboBox> PortCombo() {
  auto combo = std::make_unique<QComboBox>();
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  return combo;
}

}  // namespace

TEST(PortDiscovery, LabelsAreSetsOfPaddedEntries) {
  FakePortSource source({
      {"ttyUSB0", "ftdi_sio, usb-FTDI_FT232R_A50285BI-if00-port0", "FT232R"},
      {"ttyUSB0", "ftdi_sio, usb-FTDI_FT232R_A50285BI-if00-port0", "FT232R"},  // twice
      {"", "serial8250", ""},                                                  // no name
      {"ircomm0", "Infrared", ""},
      {std::string(250, 'x'), "too long", ""},  // no room
      {"ttyS4", std::string(400, 's'), ""},     // source cut
  });
  ScopedPortSource use(source);
  std::set<std::string> labels;
  qv::console::DiscoverPorts(labels);

  ASSERT_EQ(labels.size(), 3u);
  EXPECT_TRUE(
      labels.count("ttyUSB0" + kPadding + "(ftdi_sio, usb-FTDI_FT232R_A50285BI-if00-port0)"));
  EXPECT_TRUE(labels.count("ircomm0" + kPadding + "(Infrared)"));
  for (const std::string& label : labels) {
    EXPECT_LE(label.size(), 259u) << label;
    EXPECT_EQ(label.back(), ')');
    // Exactly 22 blanks before the parenthesis.
    const std::size_t paren = label.find('(');
    ASSERT_NE(paren, std::string::npos);
    EXPECT_EQ(label.substr(paren - 22, 22), kPadding);
    EXPECT_NE(label[paren - 23], ' ');
  }
  EXPECT_EQ(std::count_if(labels.begin(), labels.end(),
                          [](const std::string& l) { return l.rfind("ttyS4", 0) == 0; }),
            1);
}

TEST(PortDiscovery, RefreshSortsWithoutCaseAndNeverTouchesTheEditField) {
  FakePortSource source({{"vloop0", "virtual loop-back plug", ""},
                         {"COM10", "\\Device\\Serial9", ""},
                         {"com2", "\\Device\\Serial1", ""},
                         {"ttyACM0", "cdc_acm", ""}});
  ScopedPortSource use(source);
  auto combo = PortCombo();
  // What the user typed stays, with its caret, even though no such port is listed.
  combo->setEditText(QStringLiteral("\\\\.\\gone7"));
  combo->lineEdit()->setCursorPosition(3);

  qv::console::RefreshPortList(combo.get());
  const std::vector<QString> expected = {
      QString::fromStdString("COM10" + kPadding + "(\\Device\\Serial9)"),
      QString::fromStdString("com2" + kPadding + "(\\Device\\Serial1)"),
      QString::fromStdString("ttyACM0" + kPadding + "(cdc_acm)"),
      QString::fromStdString("vloop0" + kPadding + "(virtual loop-back plug)")};
  EXPECT_EQ(Items(*combo), expected);
  EXPECT_EQ(combo->currentText(), "\\\\.\\gone7");
  EXPECT_EQ(combo->lineEdit()->cursorPosition(), 3);
  EXPECT_EQ(qv::console::ComboSelection(combo.get()), -1);

  // A second refresh replaces the list (nothing doubled); a port that left is gone from it.
  source.ports.erase(source.ports.begin());  // vloop0, last in the list
  combo->setCurrentIndex(1);                 // a chosen entry: its label in the edit field
  const QString chosen = combo->currentText();
  qv::console::RefreshPortList(combo.get());
  EXPECT_EQ(Items(*combo), std::vector<QString>(expected.begin(), expected.end() - 1));
  EXPECT_EQ(combo->currentText(), chosen);

  // Emptying the list keeps the text too.
  source.ports.clear();
  qv::console::RefreshPortList(combo.get());
  EXPECT_EQ(combo->count(), 0);
  EXPECT_EQ(combo->currentText(), chosen);
}

TEST(PortDiscovery, TheDropDownListIsAsWideAsItsWidestLabel) {
  const std::string longSource = "ftdi_sio, 0403:6001 FT232R USB UART, usb-FTDI_FT232R_A50285BI";
  FakePortSource source({{"ttyS0", "serial8250", ""}});
  ScopedPortSource use(source);
  auto combo = PortCombo();
  combo->resize(120, combo->sizeHint().height());
  combo->show();
  qv::console::RefreshPortList(combo.get());
  qv::console::SetDroppedWidth(combo.get(), 300);
  EXPECT_EQ(combo->view()->minimumWidth(), 300) << "short labels: the least width";

  // A device arrives with a long label: the next refresh widens the list to show it whole.
  source.ports.push_back({"ttyUSB0", longSource, ""});
  qv::console::RefreshPortList(combo.get());
  const QString label = QString::fromStdString("ttyUSB0" + kPadding + "(" + longSource + ")");
  const int text = combo->view()->fontMetrics().horizontalAdvance(label);
  ASSERT_GT(text, 300);
  combo->showPopup();
  QApplication::processEvents();
  EXPECT_GE(combo->view()->viewport()->width(), text);
  combo->hidePopup();

  // It leaves again: back to the least width.
  source.ports.pop_back();
  qv::console::RefreshPortList(combo.get());
  EXPECT_EQ(combo->view()->minimumWidth(), 300);
}

TEST(PortDiscovery, PortNameComesOutOfALabelOrAsTyped) {
  FakePortSource source(
      {{"vloop0", "virtual loop-back plug", ""}, {"COM3", "\\Device\\Serial2", ""}});
  ScopedPortSource use(source);
  auto combo = PortCombo();
  qv::console::RefreshPortList(combo.get());

  // A chosen label gives its bare name, which the combo box then shows, with no entry selected.
  combo->setCurrentIndex(0);
  ASSERT_EQ(qv::console::ComboSelection(combo.get()), 0);
  EXPECT_EQ(qv::console::PortNameFromCombo(combo.get()), "COM3");
  EXPECT_EQ(combo->currentText(), "COM3");
  EXPECT_EQ(qv::console::ComboSelection(combo.get()), -1);
  EXPECT_EQ(combo->count(), 2);

  // Typed names pass unchanged; leading blanks go.
  for (const char* typed : {"\\\\.\\COM1", "/dev/pts/7", "vloop0", "my port  (x)"}) {
    combo->setEditText(QString::fromLatin1(typed));
    EXPECT_EQ(qv::console::PortNameFromCombo(combo.get()), typed);
    EXPECT_EQ(combo->currentText(), QString::fromLatin1(typed));
  }
  combo->setEditText(QStringLiteral("   vloop0"));
  EXPECT_EQ(qv::console::PortNameFromCombo(combo.get()), "vloop0");
  EXPECT_EQ(combo->currentText(), "vloop0");

  // At most 127 characters are read.
  combo->setEditText(QString(300, QLatin1Char('p')));
  EXPECT_EQ(qv::console::PortNameFromCombo(combo.get()).size(), 127u);
}

TEST(PortDiscovery, ThisMachineListsTheVirtualPorts) {
  // The system's source: sysfs through udev (no udev daemon or database needed), /dev, and the
  // virtual ports.
  std::set<std::string> labels;
  qv::console::DiscoverPorts(labels);
  EXPECT_TRUE(labels.count("vloop0" + kPadding + "(virtual loop-back plug)"));
  EXPECT_TRUE(labels.count("vphone0" + kPadding + "(virtual phone)"));
  for (const std::string& label : labels) {
    EXPECT_LE(label.size(), 259u);
    EXPECT_NE(label.find(kPadding + "("), std::string::npos) << label;
    // Pseudo-terminals and consoles have no driver behind them and are not offered.
    EXPECT_NE(label.rfind("pts", 0), 0u) << label;
    EXPECT_NE(label.rfind("console", 0), 0u) << label;
  }
  // And the device list runs to its end, with something to say about every device.
  qv::test::TestMessageBoxes boxes;
  int lines = 0, empty = 0;
  qv::console::DeviceListCommand([&](const char* text) {
    ++lines;
    if (*text == '\0') ++empty;
  });
  EXPECT_GT(lines, 0);
  EXPECT_EQ(empty, 0) << "of " << lines << " devices";
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST(PortDiscovery, DeviceListLogsEveryDeviceAndReportsAFailedEnumeration) {
  FakePortSource source({}, DeviceList{{"USB Serial Converter", "", "Phone modem"}, 0});
  ScopedPortSource use(source);
  std::vector<std::string> logged;
  const auto log = [&](const char* text) { logged.emplace_back(text); };
  {
    qv::test::TestMessageBoxes boxes;
    qv::console::DeviceListCommand(log);
    EXPECT_EQ(logged, (std::vector<std::string>{"USB Serial Converter", "", "Phone modem"}));
    EXPECT_EQ(boxes.Count(), 0u);
  }

  // Stopped by a failure: what was read is logged, then the failure is reported until the user
  // stops retrying.
  source.devices = DeviceList{{"Keyboard"}, EACCES};
  logged.clear();
  qv::test::TestMessageBoxes boxes;
  boxes.Answer(IDRETRY);
  boxes.Answer(IDIGNORE);
  qv::console::DeviceListCommand(log);
  EXPECT_EQ(logged, std::vector<std::string>{"Keyboard"});
  ASSERT_EQ(boxes.Count(), 2u);
  EXPECT_NE(boxes.Texts()[0].find("quor_vixDlg"), std::string::npos) << boxes.Texts()[0];
  EXPECT_EQ(boxes.Boxes()[0].flags & MB_TYPEMASK, MB_ABORTRETRYIGNORE);
}
