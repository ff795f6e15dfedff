// The port configuration dialog, drawn with Qt and driven offscreen by control id; its record
// handling through CommConfigDialogA; the flow control mapping.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <cstring>
#include <functional>

#include "platform/sync/last_error.h"
#include "platform/ui/qt/comm_config_dialog.h"
#include "platform/ui/qt/dialog_template.h"

using namespace qv::ui;

namespace {

COMMCONFIG Config() {
  COMMCONFIG config{};
  config.dwSize = sizeof config;
  config.wVersion = 1;
  config.dcb.DCBlength = sizeof(DCB);
  config.dcb.BaudRate = 115200;
  config.dcb.fBinary = 1;
  config.dcb.fDtrControl = DTR_CONTROL_ENABLE;
  config.dcb.fRtsControl = RTS_CONTROL_ENABLE;
  config.dcb.ByteSize = 8;
  config.dcb.XonLim = 2048;
  config.dcb.XoffLim = 512;
  config.dcb.EofChar = 0x1A;
  config.dwProviderSubType = PST_RS232;
  return config;
}

// Runs `drive` on the dialog once it is shown modally; the test's body then goes on with what
// CommConfigDialogA returned. A dialog that never shows fails the test rather than hanging it.
void WhenShown(std::function<void(TemplateDialog&)> drive) {
  QTimer::singleShot(0, [drive] {
    auto* dialog = dynamic_cast<TemplateDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) {
      ADD_FAILURE() << "no configuration dialog shown";
      if (QWidget* w = QApplication::activeModalWidget()) w->close();
      return;
    }
    drive(*dialog);
  });
}

void Choose(TemplateDialog& dialog, int id, const QString& text) {
  auto* combo = dialog.Item<QComboBox>(id);
  ASSERT_NE(combo, nullptr);
  const int index = combo->findText(text);
  ASSERT_GE(index, 0) << text.toStdString();
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

QStringList ItemsOf(TemplateDialog& dialog, int id) {
  QStringList items;
  auto* combo = dialog.Item<QComboBox>(id);
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

}  // namespace

TEST(CommConfigDialog, OkWritesTheChosenFieldsAndKeepsTheRest) {
  COMMCONFIG config = Config();
  QString caption, shownSpeed, shownFlow;
  QStringList stopBitsAtFive;
  WhenShown([&](TemplateDialog& d) {
    caption = d.windowTitle();
    shownSpeed = d.GetDlgItemText(IDC_CC_SPEED);
    shownFlow = d.GetDlgItemText(IDC_CC_FLOW);
    d.Item<QComboBox>(IDC_CC_SPEED)->setEditText(QStringLiteral("4800"));
    Choose(d, IDC_CC_DATABITS, QStringLiteral("5"));
    stopBitsAtFive = ItemsOf(d, IDC_CC_STOPBITS);
    Choose(d, IDC_CC_STOPBITS, QStringLiteral("1.5"));
    Choose(d, IDC_CC_PARITY, QStringLiteral("Odd"));
    Choose(d, IDC_CC_FLOW, QStringLiteral("Xon / Xoff"));
    d.Item<QPushButton>(IDOK)->click();
  });
  ASSERT_TRUE(CommConfigDialogA("vloop0", nullptr, &config));
  EXPECT_EQ(caption, "vloop0 Properties");
  EXPECT_EQ(shownSpeed, "115200");
  EXPECT_EQ(shownFlow, "None");
  EXPECT_EQ(stopBitsAtFive, (QStringList{"1", "1.5"}));

  EXPECT_EQ(config.dcb.BaudRate, 4800u);
  EXPECT_EQ(config.dcb.ByteSize, 5);
  EXPECT_EQ(config.dcb.StopBits, ONE5STOPBITS);
  EXPECT_EQ(config.dcb.Parity, ODDPARITY);
  EXPECT_TRUE(config.dcb.fOutX && config.dcb.fInX);
  EXPECT_NE(config.dcb.XonChar, config.dcb.XoffChar);  // usable flow characters
  // What the dialog does not show stays as it was.
  EXPECT_EQ(config.dcb.XonLim, 2048);
  EXPECT_EQ(config.dcb.XoffLim, 512);
  EXPECT_EQ(config.dcb.EofChar, 0x1A);
  EXPECT_EQ(config.dcb.fDtrControl, DTR_CONTROL_ENABLE);
  EXPECT_EQ(config.dwProviderSubType, PST_RS232);
}

TEST(CommConfigDialog, StopBitsFollowTheDataBitsAndAnEmptySpeedCannotBeConfirmed) {
  COMMCONFIG config = Config();
  config.dcb.StopBits = TWOSTOPBITS;
  bool okWithoutSpeed = true;
  QString stopBitsAfterFive, stopBitsAfterSeven;
  WhenShown([&](TemplateDialog& d) {
    Choose(d, IDC_CC_DATABITS, QStringLiteral("5"));
    stopBitsAfterFive = d.GetDlgItemText(IDC_CC_STOPBITS);  // 2 stands for 1.5 at five bits
    Choose(d, IDC_CC_DATABITS, QStringLiteral("7"));
    stopBitsAfterSeven = d.GetDlgItemText(IDC_CC_STOPBITS);
    d.Item<QComboBox>(IDC_CC_SPEED)->setEditText(QString());
    okWithoutSpeed = d.GetDlgItem(IDOK)->isEnabled();
    d.Item<QPushButton>(IDCANCEL)->click();
  });
  const COMMCONFIG before = config;
  EXPECT_FALSE(CommConfigDialogA("ttyUSB0", nullptr, &config));
  EXPECT_EQ(GetLastError(), ERROR_CANCELLED);
  EXPECT_EQ(stopBitsAfterFive, "1.5");
  EXPECT_EQ(stopBitsAfterSeven, "2");
  EXPECT_FALSE(okWithoutSpeed);
  // Cancel leaves the record alone.
  EXPECT_EQ(std::memcmp(&before, &config, sizeof config), 0);
}

TEST(CommConfigDialog, RefusesRecordsItCannotShow) {
  COMMCONFIG config = Config();
  ScriptedCommConfig scripted;
  scripted.onUnanswered = [](const CommConfigRequest&) { ADD_FAILURE() << "dialog shown"; };
  EXPECT_FALSE(CommConfigDialogA(nullptr, nullptr, &config));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(CommConfigDialogA("", nullptr, &config));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(CommConfigDialogA("vloop0", nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  config.dwSize = 20;  // smaller than the record's header
  EXPECT_FALSE(CommConfigDialogA("vloop0", nullptr, &config));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(scripted.Requests().empty());
}

TEST(CommConfigDialog, FlowControlMapsToTheDcbBothWays) {
  DCB dcb = Config().dcb;
  EXPECT_EQ(FlowControlOf(dcb), FlowControl::kNone);

  ApplyFlowControl(dcb, FlowControl::kHardware);
  EXPECT_EQ(FlowControlOf(dcb), FlowControl::kHardware);
  EXPECT_TRUE(dcb.fOutxCtsFlow);
  EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_HANDSHAKE);
  EXPECT_FALSE(dcb.fOutX || dcb.fInX);

  ApplyFlowControl(dcb, FlowControl::kXonXoff);
  EXPECT_EQ(FlowControlOf(dcb), FlowControl::kXonXoff);
  EXPECT_FALSE(dcb.fOutxCtsFlow);
  EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_ENABLE);  // no longer a handshake line, still on

  ApplyFlowControl(dcb, FlowControl::kNone);
  EXPECT_EQ(FlowControlOf(dcb), FlowControl::kNone);
  EXPECT_FALSE(dcb.fOutX || dcb.fInX || dcb.fOutxCtsFlow || dcb.fOutxDsrFlow);
}
