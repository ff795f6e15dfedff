// The console: the program's main dialog (template 102). It owns the log view, the port and speed
// choice, the send controls and the three tool panels, keeps the settings of the "Settings"
// section (read when it is built and initialised, written once when its window ends) and is the
// engine's console.
#pragma once

#include <QFont>
#include <QIcon>
#include <QString>
#include <atomic>
#include <memory>
#include <string>

#include "engine/console_sink.h"
#include "platform/ui/qt/dialog_template.h"
#include "resources/console_ids.h"
#include "support/layout_mgr.h"
#include "tools/object_file_sender.h"

class CToolKDOBJ;
class CToolStates;
class CToolTests;
class LogView;
class MruComboBox;
class QAction;
class QMenu;
struct DCB;
namespace qv::telephony {
class LineOpenHost;
class TelephonyLineOpen;
}
namespace qv::devices {
class DeviceChangeListener;
}

// The template of the console (id 102), in quorvix_dlg_template.cpp.
qv::ui::DialogTemplate QuorvixDialogTemplate();

// The class is defined over several files of one stem; each group below names its file.
class CQuorvixDlg : public qv::ui::TemplateDialog, public ConsoleSink, public ObjectFileSender {
  // ---- quorvix_dlg.cpp: the window, its settings, the panels, the log, the engine's console ----
 public:
  static constexpr int kTemplateId = 102;
  static constexpr const char* kSection = "Settings";

  // Reads the construction-time settings; the window is made by Create or DoModal.
  // versionText replaces "%1" in the caption.
  explicit CQuorvixDlg(const QString& versionText = QString(), QWidget* parent = nullptr);
  ~CQuorvixDlg() override;

  // The dialog the engine and the panels talk to (the one initialised last), or null.
  static CQuorvixDlg* Current();

  // ConsoleSink
  void LogText(const char* text) override;
  int OnCommData(const BYTE* data, DWORD count) override;
  void RequestClose() override;

  // Data exchange between the bound members and the controls (UpdateData).
  void UpdateData(bool fromControls);

  // Members bound to controls (data exchange).
  QString m_PortName;     // 1000, as displayed
  QString m_FileName;     // 1016
  int m_PNPaware = 0;     // 1025
  int m_HexMode = 0;      // 1028
  int m_Verbose = 1;      // 1033
  int m_VerbTime = 0;     // 1034
  int m_VerboseMore = 0;  // 1029

  LogView* Log() const { return log_; }
  QFont LogFont() const { return logFont_; }
  CToolTests* TestsPanel() const { return tests_; }
  CToolStates* StatesPanel() const { return states_; }
  CToolKDOBJ* KdobjPanel() const { return kdobj_; }
  LayoutMgr& Layout() { return layout_; }
  const QIcon& LargeIcon() const { return icon_; }
  QAction* DeviceListAction() const { return deviceListAction_; }

  // The speed: the leading decimal number of the speed combo's text (0 when none).
  int SelectedSpeed() const;
  // Selects the first speed entry that begins with the rate in decimal and one blank; false
  // (selection unchanged) when none does.
  bool SelectSpeed(int rate);

 protected:
  bool OnInitDialog() override;
  void OnDestroy() override;
  void paintEvent(QPaintEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void BindHandlers();
  void RestoreMainPlacement(const QByteArray& stored);
  void RestorePanelPlacements(const QByteArray& stored);
  void ShowStoredPanels();
  void TogglePanel(QWidget* panel);
  void OnCheckBox();
  void OnClearLog();
  void OnLogFont();
  void ApplyLogFont(const QFont& font);
  void WriteSettings();

  QString versionText_;
  QIcon icon_;
  QFont logFont_;
  LogView* log_ = nullptr;
  MruComboBox* sendLine_ = nullptr;
  CToolTests* tests_ = nullptr;
  CToolStates* states_ = nullptr;
  CToolKDOBJ* kdobj_ = nullptr;
  LayoutMgr layout_;
  QAction* deviceListAction_ = nullptr;

  // ---- quorvix_dlg_port.cpp: open and close, the speed, the port choice and its defaults ----
 public:
  // Run once a handle is in hPort; start = 1 also starts the engine. The driver's speed against
  // the chosen one; the open error box for an operation.
  void PortOpened(int start);
  void CheckDriverBaud(const DCB& dcb);
  void ReportOpenError(const char* operation);
  // Logs the default configuration of the port in the combo box, once per port chosen.
  void ShowPortDefaults();
  // The port list and the port name in the combo box (the rules are in port_discovery.h).
  void RefreshPortList();
  std::string PortNameFromCombo();

 private:
  void BindPortHandlers();
  void OnOpenClose();
  void OnSpeedChange();
  void OnPortChosen();
  void OnPortConfig();
  void OnDeviceList();
  // A close request (the engine's, or a port's removal): closes the connection `serial` once,
  // after any box that is open has ended; nothing when that connection is closed already.
  void CloseOnRequest(unsigned serial);
  void ClosePort();

  std::string lastDefaultsName_;  // the port whose defaults were shown last
  // Changes whenever a port is opened or closed: a close request names the connection it is for.
  std::atomic<unsigned> portSerial_{0};

  // ---- quorvix_dlg_send.cpp: sending lines, files and objects ----
 public:
  // Used by the object panel too: the whole file as one write request; the file as the phone's
  // object frame (raw for the contact and calendar categories).
  void SendFile(const char* path) override;
  void SendObjectFile(const char* path) override;
  MruComboBox* SendLineCombo() const { return sendLine_; }

 private:
  void BindSendHandlers();
  void OnSendLine();
  void OnSend();
  void OnBrowse();
  void SelectSentText();

  // ---- quorvix_dlg_tapi.cpp: the telephony line service ----
 public:
  // Registered at start, left at the end; "Open with TAPI" and the release of its call when the
  // port closes. Null before initialisation.
  qv::telephony::TelephonyLineOpen* Telephony() const { return tapi_.get(); }

 private:
  void StartTelephony();
  void StopTelephony();

  std::unique_ptr<qv::telephony::LineOpenHost> tapiHost_;
  std::unique_ptr<qv::telephony::TelephonyLineOpen> tapi_;

  // ---- quorvix_dlg_devices.cpp: the plug-and-play watch ----
 public:
  // WM_DEVICECHANGE with its event code and record (0 or a DEV_BROADCAST_HDR*). 1 when "Open on
  // PNP" handled a port, else the default result.
  LPARAM OnDeviceChange(UINT eventCode, LPARAM data);

 private:
  void StartDeviceWatch();
  void UnregisterDeviceWatch();
  void StopDeviceWatch();
  // Open on PNP: opens the port that arrived when the rule holds, after any open box.
  void OpenOnArrival(const std::string& name);

  std::unique_ptr<qv::devices::DeviceChangeListener> deviceWatch_;
  void* devNotify_ = nullptr;  // the device notification registration

  // ---- quorvix_dlg_capture.cpp: the capture of the line, from the log view's menu ----
 public:
  // Asks for a file and starts the capture there; a file that cannot be written is said in a
  // box, and the port goes on as it was.
  void OnStartCapture();
  void OnStopCapture();
  bool CaptureRunning() const;

 private:
  void AddCaptureActions(QMenu& menu);
  // On the UI thread, after the writer found the disk refusing a write.
  void OnCaptureFailed(const std::string& path, const std::string& reason);
  void ShowCaptureInTitle();

  QString baseTitle_;  // the title without the capture's mark
};

// The receive callback handed to the engine: forwards to the current console's OnCommData.
int ConsoleReceive(const BYTE* data, DWORD count);
