#include "console/quorvix_dlg.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <algorithm>
#include <cstdio>

#include "console/app_icon.h"
#include "console/log_font_record.h"
#include "console/log_view.h"
#include "console/port_discovery.h"
#include "console/quorvix_dlg_devices.h"
#include "console/quorvix_dlg_port.h"
#include "console/received_text.h"
#include "console/window_placement.h"
#include "drivertests/port_handle.h"
#include "engine/comm.h"
#include "platform/devices/device_watch.h"
#include "platform/store/profile_store.h"
#include "platform/sync/clock.h"
#include "platform/sync/debug_output.h"
#include "platform/sync/kernel_object.h"
#include "platform/ui/qt/dialog_service.h"
#include "platform/ui/qt/qt_ui.h"
#include "platform/ui/ui_thread.h"
#include "support/mru_combo_box.h"
#include "telephony/line_open.h"
#include "tools/tool_kdobj.h"
#include "tools/tool_states.h"
#include "tools/tool_tests.h"

namespace {

const QString kSettings = QStringLiteral("Settings");

constexpr const char* kSpeeds[] = {"806400 bps", "115200 bps", "57600 bps",
                                   "38400 bps",  "19200 bps",  "9600 bps",
                                   "4800 bps",   "2400 bps",   "1200 bps"};
constexpr int kDefaultSpeedIndex = 1;  // 115200 bps
constexpr int kPortListWidth = 300;    // pixels: the least width of the port list
constexpr int kLogTabStop = 19;        // dialog units: hexadecimal cells line up
constexpr int kPlacementRecords = 4;   // main dialog, test, states and object panel
constexpr const char* kDefaultSendLine = "ATE1V1&K3+CMEE=1";

CQuorvixDlg* g_current = nullptr;

int GetInt(const char* name, int defaultValue) {
  return qv::store::GetProfileInt(kSettings, QString::fromLatin1(name), defaultValue);
}
void WriteInt(const char* name, int value) {
  qv::store::WriteProfileInt(kSettings, QString::fromLatin1(name), value);
}

// The console's own control classes: the log view and the history combo.
void RegisterConsoleControls() {
  static const bool registered = [] {
    qv::ui::RegisterControlClass(QStringLiteral("QV_LOGVIEW"),
                                 [](const qv::ui::ControlTemplate&, QWidget* parent) {
                                   return static_cast<QWidget*>(new LogView(parent));
                                 });
    qv::ui::RegisterControlClass(QStringLiteral("QV_MRUCOMBOBOX"),
                                 [](const qv::ui::ControlTemplate&, QWidget* parent) {
                                   auto* combo = new MruComboBox(parent);
                                   combo->setEditable(true);
                                   combo->setInsertPolicy(QComboBox::NoInsert);
                                   return static_cast<QWidget*>(combo);
                                 });
    return true;
  }();
  (void)registered;
}

}  // namespace

CQuorvixDlg::CQuorvixDlg(const QString& versionText, QWidget* parent)
    : TemplateDialog((RegisterConsoleControls(), QuorvixDialogTemplate()), parent),
      versionText_(versionText) {
  // 1. The members bound to controls.
  m_FileName = qv::store::GetProfileString(kSettings, QStringLiteral("FileName"),
                                           QStringLiteral("test.wav"));
  m_PNPaware = GetInt("PNPaware", 0);
  m_HexMode = GetInt("HexMode", 0);
  m_Verbose = GetInt("Verbose", 1);
  m_VerbTime = GetInt("VerbTime", 0);
  m_VerboseMore = GetInt("VerboseMore", 0);
  // 2. The icon, large and small.
  icon_ = qv::console::ApplicationIcon();
  // 3. The read block size. A stored size of 0 or less would make every read ask for nothing
  // (or for 4 GB): such a value is ignored and the engine keeps its size. One beyond the bound
  // the block size field keeps to is taken as that bound.
  const int blockSize = GetInt("BlockSize", int(CommConnection.ReadBlockSize.Load()));
  if (blockSize > 0) SetCommBlockSize(std::min(DWORD(blockSize), kMaxBlockSize));
}

CQuorvixDlg::~CQuorvixDlg() {
  // The window's end (settings, panels) must run while this object is still whole.
  DestroyWindow();
  if (g_current == this) g_current = nullptr;
}

CQuorvixDlg* CQuorvixDlg::Current() { return g_current; }

bool CQuorvixDlg::OnInitDialog() {
  // 1. This dialog is the engine's console and the panels' target.
  g_current = this;
  CommConnection.console = static_cast<ConsoleSink*>(this);
  log_ = Item<LogView>(IDC_LOG);
  sendLine_ = Item<MruComboBox>(IDC_SENDLINE_TEXT);
  if (auto* speed = Item<QComboBox>(IDC_SPEED)) {
    for (const char* s : kSpeeds) speed->addItem(QString::fromLatin1(s));
    speed->setCurrentIndex(kDefaultSpeedIndex);
  }
  BindHandlers();

  // 2. Resizing: the log's right edge and the raw file group's top edge split the dialog.
  layout_.Attach(this, IDC_LOG, IDC_RAWFILE_GROUP,
                 LayoutMgr::kSizeGrip | LayoutMgr::kFixedMinHeight | LayoutMgr::kSplitYOnTopEdge);

  // 3. The icon.
  setWindowIcon(icon_);

  // 4. The main dialog's placement: position and size only, never smaller than the template.
  const QByteArray stored =
      qv::store::GetProfileBinary(kSettings, QStringLiteral("WindowPlacement"))
          .value_or(QByteArray());
  RestoreMainPlacement(stored);

  // 5. The panels, hidden, owned by this dialog: test, states, object panel.
  tests_ = new CToolTests(this);
  tests_->portOpened = [this](int start) { PortOpened(start); };
  tests_->Create();
  states_ = new CToolStates(this);
  states_->Create();
  kdobj_ = new CToolKDOBJ(this);
  kdobj_->Create();

  // 6. The panels' placements: stored position, template size.
  RestorePanelPlacements(stored);

  // 7. The title: "%1" becomes the version text.
  setWindowTitle(windowTitle().replace(QStringLiteral("%1"), versionText_));
  baseTitle_ = windowTitle();
  if (log_ != nullptr) log_->SetMenuExtension([this](QMenu& menu) { AddCaptureActions(menu); });

  // 8. The telephony line service (quorvix_dlg_tapi.cpp).
  StartTelephony();

  // 9. The port list; the drop-down is wide enough for the port labels, the longest included.
  RefreshPortList();
  qv::console::SetDroppedWidth(Item<QComboBox>(IDC_PORT), kPortListWidth);

  // 10. The port as displayed last time.
  m_PortName = qv::store::GetProfileString(kSettings, QStringLiteral("PortName"),
                                           QStringLiteral("\\\\.\\COM1"));

  // 11. The speed: the first entry that begins with the stored rate and a blank.
  SelectSpeed(GetInt("BaudRate", 115200));

  // 12. The send-line history, then the line offered first.
  if (sendLine_) {
    sendLine_->Load(QStringLiteral("SendMRU"), "%d", 10);
    sendLine_->setEditText(QString::fromLatin1(kDefaultSendLine));
  }

  // 13. The log font: the stored one, else a copy of the log's own; tab stops; no text limit
  // (the log view has none).
  const auto storedFont = qv::store::GetProfileBinary(kSettings, QStringLiteral("ConsoleFont"));
  const auto record = storedFont ? qv::console::LogFontFromBytes(*storedFont) : std::nullopt;
  if (storedFont && !record)
    OutputDebugStringA("Stored log font is damaged: the log keeps its own font\n");
  if (record) logFont_ = qv::console::FontFromLogFont(*record);
  else logFont_ = log_ ? log_->font() : font();
  ApplyLogFont(logFont_);
  if (log_) log_->SetTabStopDistance(Units().X(kLogTabStop));

  // 14. Members into the controls; the caret at the end of the file name.
  UpdateData(false);
  if (auto* file = Item<QLineEdit>(IDC_FILENAME)) file->setCursorPosition(int(file->text().size()));

  // 15. The selected port's default configuration (it may change the speed chosen in step 11).
  ShowPortDefaults();

  // 16. The panels that were visible.
  ShowStoredPanels();

  // 17. Device notifications, the last step (quorvix_dlg_devices.cpp).
  StartDeviceWatch();
  return true;
}

void CQuorvixDlg::BindHandlers() {
  for (int id : {IDC_HEXA, IDC_VERBOSE, IDC_TIMESTAMP, IDC_VERBOSEMORE, IDC_OPENONPNP})
    OnCommand(id, [this] { OnCheckBox(); });
  OnCommand(IDC_CLEARLOG, [this] { OnClearLog(); });
  OnCommand(IDC_LOGFONT, [this] { OnLogFont(); });
  OnCommand(IDC_TOOL_TESTS, [this] { TogglePanel(tests_); });
  OnCommand(IDC_TOOL_STATES, [this] { TogglePanel(states_); });
  OnCommand(IDC_TOOL_KDOBJ, [this] { TogglePanel(kdobj_); });
  BindPortHandlers();  // quorvix_dlg_port.cpp
  BindSendHandlers();  // quorvix_dlg_send.cpp

  // Command 1047 has no control: the context menu and a shortcut send it.
  deviceListAction_ = new QAction(QStringLiteral("&Device list"), this);
  deviceListAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
  deviceListAction_->setShortcutContext(Qt::WindowShortcut);
  connect(deviceListAction_, &QAction::triggered, this, [this] { SendCommand(ID_DEVICE_LIST); });
  addAction(deviceListAction_);
}

void CQuorvixDlg::RestoreMainPlacement(const QByteArray& stored) {
  WINDOWPLACEMENT wp;
  if (!qv::console::PlacementAt(stored, 0, &wp)) return;  // shorter than one record: ignored
  // A damaged record: the default place, still pulled onto a screen.
  if (!qv::console::IsSoundStoredPlacement(wp, 0)) GetWindowPlacement(this, &wp);
  const QSize current = qv::console::OuterSize(this);
  // Never smaller than the template; a damaged store may hold any numbers.
  qv::console::GiveOuterSize(wp.rcNormalPosition, current, true);
  wp.showCmd = SW_HIDE;  // position and size only; a maximised window comes back normal
  SetWindowPlacement(this, &wp);
}

void CQuorvixDlg::RestorePanelPlacements(const QByteArray& stored) {
  if (stored.size() < qsizetype(kPlacementRecords * sizeof(WINDOWPLACEMENT))) return;
  QWidget* panels[] = {tests_, states_, kdobj_};
  for (int i = 0; i < 3; ++i) {
    WINDOWPLACEMENT wp;
    qv::console::PlacementAt(stored, i + 1, &wp);
    // Only the position counts (a panel keeps its template size), so the size is given first.
    const QSize current = qv::console::OuterSize(panels[i]);
    qv::console::GiveOuterSize(wp.rcNormalPosition, current, false);
    if (!qv::console::IsSoundStoredPlacement(wp, i + 1)) continue;
    wp.showCmd = SW_HIDE;
    SetWindowPlacement(panels[i], &wp);
  }
}

void CQuorvixDlg::ShowStoredPanels() {
  const int visible = GetInt("VisibleTools", 2);
  const std::pair<QWidget*, int> panels[] = {
      {tests_, IDC_TOOL_TESTS}, {states_, IDC_TOOL_STATES}, {kdobj_, IDC_TOOL_KDOBJ}};
  for (int bit = 0; bit < 3; ++bit) {
    if (!(visible & (1 << bit))) continue;
    QWidget* panel = panels[bit].first;
    panel->setAttribute(Qt::WA_ShowWithoutActivating);
    panel->show();
    CheckDlgButton(panels[bit].second, BST_CHECKED);
  }
}

void CQuorvixDlg::TogglePanel(QWidget* panel) {
  if (panel == nullptr) return;
  if (panel->isVisible()) {
    panel->hide();
  } else {
    panel->setAttribute(Qt::WA_ShowWithoutActivating);
    panel->show();
    panel->raise();
  }
  raise();
  activateWindow();
}

void CQuorvixDlg::UpdateData(bool fromControls) {
  struct Check {
    int id;
    int* member;
  } checks[] = {{IDC_OPENONPNP, &m_PNPaware},
                {IDC_HEXA, &m_HexMode},
                {IDC_VERBOSE, &m_Verbose},
                {IDC_TIMESTAMP, &m_VerbTime},
                {IDC_VERBOSEMORE, &m_VerboseMore}};
  if (fromControls) {
    m_PortName = GetDlgItemText(IDC_PORT);
    m_FileName = GetDlgItemText(IDC_FILENAME);
    for (const Check& c : checks) *c.member = IsDlgButtonChecked(c.id) == BST_CHECKED ? 1 : 0;
  } else {
    SetDlgItemText(IDC_PORT, m_PortName);
    SetDlgItemText(IDC_FILENAME, m_FileName);
    for (const Check& c : checks) CheckDlgButton(c.id, *c.member ? BST_CHECKED : BST_UNCHECKED);
  }
}

int CQuorvixDlg::SelectedSpeed() const {
  // The leading decimal number of the text, as atoi reads it.
  return std::atoi(GetDlgItemText(IDC_SPEED).toLatin1().constData());
}

bool CQuorvixDlg::SelectSpeed(int rate) {
  auto* speed = Item<QComboBox>(IDC_SPEED);
  if (speed == nullptr) return false;
  const QString prefix = QString::number(rate) + QLatin1Char(' ');
  for (int i = 0; i < speed->count(); ++i) {
    if (speed->itemText(i).startsWith(prefix)) {
      speed->setCurrentIndex(i);
      return true;
    }
  }
  return false;
}

void CQuorvixDlg::OnCheckBox() { UpdateData(true); }

void CQuorvixDlg::OnClearLog() {
  if (log_) log_->Clear();
}

void CQuorvixDlg::OnLogFont() {
  qv::ui::FontDialogRequest request;
  request.owner = qv::ui::ToHwnd(this);
  request.title = QStringLiteral("Font");
  request.current = logFont_;
  const qv::ui::FontDialogResult result = qv::ui::RunFontDialog(request);
  if (!result.accepted) return;  // Cancel keeps the font
  ApplyLogFont(result.font);
}

void CQuorvixDlg::ApplyLogFont(const QFont& font) {
  logFont_ = font;
  if (log_) {
    log_->setFont(logFont_);
    log_->viewport()->repaint();
  }
}

void CQuorvixDlg::LogText(const char* text) {
  // The log belongs to the UI thread; a trace from elsewhere waits until it is in.
  if (!qv::ui::IsUiThread()) {
    const std::string copy(text ? text : "");
    qv::ui::RunOnUiThread([this, &copy] { LogText(copy.c_str()); });
    return;
  }
  if (!m_Verbose || log_ == nullptr) return;
  char stamp[30] = "";
  if (m_VerbTime) {
    SYSTEMTIME st;
    GetLocalTime(&st);
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d ", st.wHour, st.wMinute, st.wSecond,
                  st.wMilliseconds);
  }
  // Each piece goes in at the end, as the caret is moved there before each insertion.
  log_->AppendText(u"<");
  if (m_VerbTime) log_->AppendText(QString::fromLatin1(stamp));
  log_->AppendText(QString::fromLocal8Bit(text ? text : ""));
  log_->AppendText(u">\r\n");
}

int CQuorvixDlg::OnCommData(const BYTE* data, DWORD count) {
  // The read thread waits until its chunk is in the log: the bytes are valid only during the call,
  // and chunks keep their order.
  qv::ui::RunOnUiThread([this, data, count] {
    if (log_ == nullptr) return;
    log_->AppendText(m_HexMode ? qv::console::HexCells(data, count)
                               : qv::console::ReceivedText(data, count));
  });
  if (tests_) tests_->CheckReceivedBlock(data, count);
  if (states_) states_->AddReceivedBytes(count);
  return 1;
}

// A close request, not a toggle: both engine threads may ask for it, and a request that arrives
// after the port has closed (or opened again) must not open it (quorvix_dlg_port.cpp).
void CQuorvixDlg::RequestClose() {
  PostMessage(qv::console::WM_CLOSE_REQUEST, WPARAM(portSerial_.load()));
}

int ConsoleReceive(const BYTE* data, DWORD count) {
  ConsoleSink* console = CommConnection.console;
  return console ? console->OnCommData(data, count) : 1;
}

void CQuorvixDlg::OnDestroy() {
  // 0. A capture ends with the window: what it holds is written out.
  OnStopCapture();
  // 1. An open port: the engine stops before the handle is closed.
  if (hPort != INVALID_HANDLE_VALUE) {
    StopComm(0);
    CloseHandle(hPort);
    hPort = INVALID_HANDLE_VALUE;
  }
  // 2. Device notifications end with the window.
  StopDeviceWatch();
  WriteSettings();
  // 8. The telephony line service.
  StopTelephony();
  if (CommConnection.console.Load() == static_cast<ConsoleSink*>(this))
    CommConnection.console = nullptr;
}

void CQuorvixDlg::WriteSettings() {
  // 3. Which panels were visible.
  WriteInt("VisibleTools", (tests_ && tests_->isVisible() ? 1 : 0) |
                               (states_ && states_->isVisible() ? 2 : 0) |
                               (kdobj_ && kdobj_->isVisible() ? 4 : 0));
  // 4. The log font.
  qv::store::WriteProfileBinary(kSettings, QStringLiteral("ConsoleFont"),
                                qv::console::LogFontBytes(qv::console::LogFontFromFont(logFont_)));
  // 5. Controls into the members.
  UpdateData(true);
  // 6. The four placements; then the panels end.
  QByteArray placements;
  QWidget* windows[] = {this, tests_, states_, kdobj_};
  for (QWidget* w : windows) {
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    if (w) GetWindowPlacement(w, &wp);
    placements += qv::console::PlacementBytes(wp);
  }
  for (CToolPanel* panel : {static_cast<CToolPanel*>(tests_), static_cast<CToolPanel*>(states_),
                            static_cast<CToolPanel*>(kdobj_)}) {
    if (panel) {
      panel->DestroyWindow();
      delete panel;
    }
  }
  tests_ = nullptr;
  states_ = nullptr;
  kdobj_ = nullptr;
  qv::store::WriteProfileBinary(kSettings, QStringLiteral("WindowPlacement"), placements);
  // 7. The port, the speed and the bound values.
  qv::store::WriteProfileString(kSettings, QStringLiteral("PortName"), m_PortName);
  WriteInt("BaudRate", SelectedSpeed());
  qv::store::WriteProfileString(kSettings, QStringLiteral("FileName"), m_FileName);
  WriteInt("PNPaware", m_PNPaware);
  WriteInt("HexMode", m_HexMode);
  WriteInt("Verbose", m_Verbose);
  WriteInt("VerbTime", m_VerbTime);
  WriteInt("VerboseMore", m_VerboseMore);
  qv::store::SyncProfile();
}

void CQuorvixDlg::paintEvent(QPaintEvent* event) {
  if (!isMinimized()) return TemplateDialog::paintEvent(event);
  // Minimised: the large icon centred on an erased background.
  QPainter p(this);
  p.fillRect(rect(), palette().window());
  const QSize icon(32, 32);
  p.drawPixmap((width() - icon.width() + 1) / 2, (height() - icon.height() + 1) / 2,
               icon_.pixmap(icon));
}

void CQuorvixDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(deviceListAction_);
  qv::console::AddVirtualPlugActions(menu);
  menu.exec(event->globalPos());
}
