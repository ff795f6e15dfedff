#include "tools/tool_kdobj.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QValidator>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>

#include "drivertests/port_handle.h"
#include "engine/comm.h"
#include "platform/store/profile_store.h"
#include "support/file_dialog_ex.h"
#include "tools/kdobj_lists.h"
#include "tools/object_file_sender.h"

namespace {

const QString kSection = QStringLiteral("Settings");
constexpr const char* kBrowseFilter = "All files (*.*)|*.*||";
constexpr DWORD BS_LEFT = 0x100;
constexpr int kFormatDropWidth = 400;  // pixels: the format rows are long
constexpr int kTypeDropWidth = 100;
// What the object frame adds to the file besides the title's 16-bit units.
constexpr qint64 kFrameFixed = 24;

qv::ui::DialogTemplate KdobjTemplate() {
  using qv::ui::Control;
  const DWORD command = BS_PUSHBUTTON | BS_LEFT | WS_DISABLED | WS_TABSTOP;
  const DWORD data = BS_PUSHBUTTON | WS_DISABLED | WS_TABSTOP;
  const DWORD combo = CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP;
  qv::ui::DialogTemplate t;
  t.id = CToolKDOBJ::kTemplateId;
  t.caption = QStringLiteral("DOBX commands");
  t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  t.x = 300;
  t.y = 100;
  t.cx = 184;
  t.cy = 200;
  t.controls = {
      Control(IDC_KDOBJ_FILE, "EDIT", QString(), ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 5, 5, 141,
              12),
      Control(IDC_KDOBJ_BROWSE, "BUTTON", QStringLiteral("..."), BS_PUSHBUTTON | WS_TABSTOP, 149, 5,
              15, 13),
      Control(IDC_STATIC, "STATIC", QStringLiteral("Type DFOM:"), SS_LEFT, 5, 20, 40, 12),
      Control(IDC_KDOBJ_FORMAT, "COMBOBOX", QString(), combo, 48, 20, 37, 110),
      Control(IDC_STATIC, "STATIC", QStringLiteral("SyncAT:"), SS_RIGHT, 88, 20, 30, 12),
      Control(IDC_KPSW_TYPE, "COMBOBOX", QString(), combo, 125, 20, 39, 70),
      Control(IDC_STATIC, "STATIC", QStringLiteral("SyncAT category:"), SS_LEFT, 5, 35, 60, 12),
      Control(IDC_KPSL_CATEGORY, "COMBOBOX", QString(), combo, 65, 35, 99, 65),
      Control(IDC_STATIC, "BUTTON", QStringLiteral("KOBJ"), BS_GROUPBOX, 7, 52, 170, 91),
      Control(IDC_KDOBJ_QUERY, "BUTTON", QStringLiteral("AT+KDOBJ?"), command, 19, 63, 145, 13),
      Control(IDC_KDOBJ_OPEN, "BUTTON", QStringLiteral("AT+KDOBJ=1,1"), command, 19, 78, 145, 13),
      Control(IDC_KDOBJ_TITLE_CMD, "BUTTON", QStringLiteral("AT+KDOBJ=2,1,3,0,8"), command, 19, 93,
              105, 13),
      Control(IDC_KDOBJ_TITLE, "BUTTON", QStringLiteral("Title"), data, 129, 93, 35, 13),
      Control(IDC_KDOBJ_OBJECT_CMD, "BUTTON", QStringLiteral("AT+KDOBJ=2,1,0,1,size"), command, 19,
              108, 105, 13),
      Control(IDC_KDOBJ_SEND, "BUTTON", QStringLiteral("Send"), data, 129, 108, 35, 13),
      Control(IDC_KDOBJ_CLOSE, "BUTTON", QStringLiteral("AT+KDOBJ=1,0"), command, 19, 123, 145, 13),
      Control(IDC_STATIC, "BUTTON", QStringLiteral("KPSx"), BS_GROUPBOX, 7, 145, 170, 46),
      Control(IDC_KPSL_CMD, "BUTTON", QStringLiteral("AT+CSCS=\"GSM\";+KPSL=\"SOUNDS\",1"), command,
              19, 156, 145, 13),
      Control(IDC_KPSW_CMD, "BUTTON", QStringLiteral("AT+KPSW=\"WAV\",size"), command, 19, 171, 105,
              13),
      Control(IDC_KPSW_SEND, "BUTTON", QStringLiteral("Send"), data, 129, 171, 35, 13),
  };
  return t;
}

// The leading number of a text as atoi reads it (0 when there is none).
int LeadingNumber(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  return static_cast<int>(std::strtol(bytes.constData(), nullptr, 10));
}

// The object's title as the frame carries it: the file name after the path's last "/" or "\",
// up to its first "."; empty when the name has no ".". Its length in UTF-16 units is what the
// frame's title takes.
QString ObjectTitle(const QString& path) {
  const qsizetype separator =
      std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
  const QString name = path.mid(separator + 1);
  const qsizetype dot = name.indexOf(QLatin1Char('.'));
  return dot < 0 ? QString() : name.left(dot);
}

// The size of the file that a send would read, or nothing when there is no readable regular
// file of that name (a folder or a device cannot be sent).
std::optional<qint64> SendableFileSize(const QString& path) {
  if (path.isEmpty()) return std::nullopt;
  const QFileInfo info(path);
  if (!info.isFile() || !info.isReadable()) return std::nullopt;
  return info.size();
}

// Contact and calendar entries go to the phone as the file's raw bytes (exact comparison).
bool IsRawCategory(const QString& category) {
  return category == QLatin1String("VCARDS") || category == QLatin1String("VEVENTS") ||
         category == QLatin1String("VTODO");
}

// Drops whole characters just before `end` until the text takes at most `budget` bytes in the
// encoding its command is sent in; false when the characters before `end` are not enough.
bool FitBytes(QString& text, int& end, int budget) {
  while (text.toLocal8Bit().size() > budget) {
    if (end <= 0) return false;
    const int n =
        end >= 2 && text[end - 1].isLowSurrogate() && text[end - 2].isHighSurrogate() ? 2 : 1;
    text.remove(end - n, n);
    end -= n;
  }
  return true;
}

QString CutToBytes(QString text, int budget) {
  int end = int(text.size());
  FitBytes(text, end, budget);
  return text;
}

// A field whose text goes into a command caption of fixed byte size: what is typed or pasted
// beyond the room left is cut where it was put in (a character is never split).
class ByteBudgetValidator : public QValidator {
 public:
  ByteBudgetValidator(int budget, QObject* parent) : QValidator(parent), budget_(budget) {}
  State validate(QString& input, int& pos) const override {
    return FitBytes(input, pos, budget_) ? Acceptable : Invalid;
  }

 private:
  int budget_;
};

// Runs a callback whenever the watched window hides: the format list's pop-up closing, chosen
// or cancelled.
class HideWatcher : public QObject {
 public:
  HideWatcher(QObject* parent, std::function<void()> onHide)
      : QObject(parent), onHide_(std::move(onHide)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Hide) onHide_();
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> onHide_;
};

}  // namespace

CToolKDOBJ::CToolKDOBJ(qv::ui::TemplateDialog* console)
    : CToolPanel(KdobjTemplate(), console, kToggleId),
      console_(console),
      sender_(dynamic_cast<ObjectFileSender*>(console)) {
  using namespace qv::store;
  fileName_ =
      GetProfileString(kSection, QStringLiteral("KDOBJ_FileName"), QStringLiteral("test.wav"));
  category_ = GetProfileString(kSection, QStringLiteral("KPSL_Category"), QStringLiteral("SOUNDS"));
  type_ = GetProfileString(kSection, QStringLiteral("KPSW_Type"), QStringLiteral("WAV"));
  // A longer stored value is cut to what its command has room for.
  category_ = CutToBytes(category_, kCategoryMax);
  type_ = CutToBytes(type_, kTypeMax);
  format_ = QString::number(GetProfileInt(kSection, QStringLiteral("KDOBJ_Type"), 1));
  BindHandlers();
}

CToolKDOBJ::~CToolKDOBJ() {
  // A window nobody ended still saves its values (the base class can no longer reach ours).
  if (IsCreated() && !IsDestroyed()) DestroyWindow();
}

void CToolKDOBJ::BindHandlers() {
  OnNotify(IDC_KDOBJ_FILE, EN_CHANGE, [this] { UpdateCommands(); });
  for (int id : {IDC_KDOBJ_FORMAT, IDC_KPSW_TYPE, IDC_KPSL_CATEGORY})
    OnNotify(id, CBN_EDITCHANGE, [this] { UpdateCommands(); });
  // A chosen format row is trimmed once it has reached the edit field.
  OnNotify(IDC_KDOBJ_FORMAT, CBN_SELENDOK, [this] { PostMessage(WM_TRIM_FORMAT); });
  OnNotify(IDC_KDOBJ_FORMAT, CBN_SELENDCANCEL, [this] { PostMessage(WM_TRIM_FORMAT); });
  // The chosen type or category counts once it is in the edit field: the same command again,
  // as an edit change.
  for (int id : {IDC_KPSW_TYPE, IDC_KPSL_CATEGORY})
    OnNotify(id, CBN_SELENDOK, [this, id] { PostCommand(id, CBN_EDITCHANGE); });
  OnMessage(WM_TRIM_FORMAT, [this](WPARAM, LPARAM) {
    TrimFormatNumber();
    return LPARAM(0);
  });

  for (int id : {IDC_KDOBJ_QUERY, IDC_KDOBJ_OPEN, IDC_KDOBJ_TITLE_CMD, IDC_KDOBJ_OBJECT_CMD,
                 IDC_KDOBJ_CLOSE, IDC_KPSW_CMD})
    OnCommand(id, [this, id] { SendCaption(id); });
  OnCommand(IDC_KPSL_CMD, [this] {
    SendCaption(IDC_KPSL_CMD);
    // The read command that usually follows, for the user to complete and send.
    if (console_) console_->SetDlgItemText(1020, QStringLiteral("AT+KPSR="));
  });
  OnCommand(IDC_KDOBJ_TITLE, [] {
    // The eight characters alone: no terminator, no line end.
    WriteCommBufferFrom("object", reinterpret_cast<const BYTE*>(kTitleData), 8);
  });
  OnCommand(IDC_KDOBJ_SEND, [this] {
    ReadControls();
    const QByteArray path = fileName_.toLocal8Bit();
    if (sender_) sender_->SendFile(path.constData());
  });
  OnCommand(IDC_KPSW_SEND, [this] {
    ReadControls();
    const QByteArray path = fileName_.toLocal8Bit();
    if (sender_) sender_->SendObjectFile(path.constData());
  });
  OnCommand(IDC_KDOBJ_BROWSE, [this] { OnBrowse(); });
}

bool CToolKDOBJ::OnInitDialog() {
  // Filling the lists changes the fields: the stored values must not be read back from them.
  writingControls_ = true;
  auto* format = Item<QComboBox>(IDC_KDOBJ_FORMAT);
  auto* type = Item<QComboBox>(IDC_KPSW_TYPE);
  auto* category = Item<QComboBox>(IDC_KPSL_CATEGORY);
  format->addItems(qv::tools::ObjectFormatRows());
  type->addItems(qv::tools::ObjectTypeRows());
  category->addItems(qv::tools::ObjectCategoryRows());
  for (QComboBox* combo : {format, type, category}) {
    // Typed text stays as typed: no completion from the list.
    combo->setCompleter(nullptr);
  }
  // A type or category longer than this would not fit the command's caption: the field takes
  // no more. The caption's room is counted in the bytes sent, so "é" takes two.
  type->lineEdit()->setMaxLength(kTypeMax);
  category->lineEdit()->setMaxLength(kCategoryMax);
  type->setValidator(new ByteBudgetValidator(kTypeMax, type));
  category->setValidator(new ByteBudgetValidator(kCategoryMax, category));

  format->view()->setMinimumWidth(kFormatDropWidth);
  type->view()->setMinimumWidth(kTypeDropWidth);
  // Closing the format list without a choice trims the field as a choice does.
  format->view()->window()->installEventFilter(
      new HideWatcher(format, [this] { PostMessage(WM_TRIM_FORMAT); }));

  for (int id : {IDC_KDOBJ_QUERY, IDC_KDOBJ_OPEN, IDC_KDOBJ_TITLE_CMD, IDC_KDOBJ_OBJECT_CMD,
                 IDC_KDOBJ_CLOSE, IDC_KPSL_CMD, IDC_KPSW_CMD}) {
    if (QWidget* b = GetDlgItem(id)) b->setStyleSheet(QStringLiteral("text-align: left;"));
  }

  WriteValuesToControls();
  UpdateCommands();
  return true;
}

void CToolKDOBJ::OnDestroy() {
  ReadControls();
  SaveValues();
}

void CToolKDOBJ::SaveValues() const {
  using namespace qv::store;
  WriteProfileString(kSection, QStringLiteral("KDOBJ_FileName"), fileName_);
  WriteProfileString(kSection, QStringLiteral("KPSL_Category"), category_);
  WriteProfileString(kSection, QStringLiteral("KPSW_Type"), type_);
  WriteProfileInt(kSection, QStringLiteral("KDOBJ_Type"), ObjectType());
}

int CToolKDOBJ::ObjectType() const { return LeadingNumber(format_); }

void CToolKDOBJ::ReadControls() {
  if (!IsCreated()) return;
  fileName_ = GetDlgItemText(IDC_KDOBJ_FILE);
  category_ = GetDlgItemText(IDC_KPSL_CATEGORY);
  type_ = GetDlgItemText(IDC_KPSW_TYPE);
  format_ = GetDlgItemText(IDC_KDOBJ_FORMAT);
}

void CToolKDOBJ::WriteValuesToControls() {
  // Each field's change notice would read all four fields while the later ones still hold
  // their old text: they wait until every field is written.
  writingControls_ = true;
  SetDlgItemText(IDC_KDOBJ_FILE, fileName_);
  SetDlgItemText(IDC_KPSW_TYPE, type_);
  SetDlgItemText(IDC_KPSL_CATEGORY, category_);
  // The format row of the stored or typed number; the text as it is when no row has it (a
  // search by prefix would turn 30 into 300's row and send that).
  auto* format = Item<QComboBox>(IDC_KDOBJ_FORMAT);
  const int row = qv::tools::FormatRowNumbered(format_);
  if (row >= 0 && row < format->count()) {
    format->setCurrentIndex(row);
    format->setEditText(format->itemText(row));
  } else {
    format->setEditText(format_);
  }
  writingControls_ = false;
  ReadControls();
  // A selected full row goes back to its number.
  PostMessage(WM_TRIM_FORMAT);
}

void CToolKDOBJ::EnableCommands(bool enable) {
  commandsEnabled_ = enable;
  for (QObject* child : children()) {
    auto* button = qobject_cast<QAbstractButton*>(child);
    if (button == nullptr || qv::ui::ControlId(button) == IDC_KDOBJ_BROWSE) continue;
    button->setEnabled(enable);
  }
  // The file-dependent commands need the file as well.
  if (enable) UpdateCommands();
}

void CToolKDOBJ::UpdateCommands() {
  if (writingControls_ || !IsCreated()) return;
  ReadControls();
  const std::optional<qint64> size = SendableFileSize(fileName_);
  const qint64 titleUnits = ObjectTitle(fileName_).size();
  const int format = LeadingNumber(format_);

  // Built by concatenation: a typed "%1" in a field stays text.
  const QString sizeText = size ? QString::number(*size) : QStringLiteral("size");
  SetDlgItemText(IDC_KDOBJ_OBJECT_CMD, QStringLiteral("AT+KDOBJ=2,1,0,") + QString::number(format) +
                                           QLatin1Char(',') + sizeText);

  // A group title of the type list ("// ...") or an empty type leaves the command as it was.
  if (!type_.isEmpty() && !type_.startsWith(QLatin1Char('/'))) {
    QString count = QStringLiteral("size");
    if (size) {
      // The bytes the object send puts on the wire: the raw entry, or the framed object.
      const qint64 bytes = IsRawCategory(category_) ? *size : *size + 2 * titleUnits + kFrameFixed;
      count = QString::number(bytes);
    }
    SetDlgItemText(IDC_KPSW_CMD,
                   QStringLiteral("AT+KPSW=\"") + type_ + QStringLiteral("\",") + count);
  }

  SetDlgItemText(IDC_KPSL_CMD,
                 QStringLiteral("AT+CSCS=\"GSM\";+KPSL=\"") + category_ + QStringLiteral("\",1"));

  const bool usable = size.has_value() && hPort != INVALID_HANDLE_VALUE;
  for (int id : {IDC_KDOBJ_OBJECT_CMD, IDC_KPSW_CMD, IDC_KDOBJ_SEND, IDC_KPSW_SEND})
    EnableDlgItem(id, usable);
}

void CToolKDOBJ::TrimFormatNumber() {
  ReadControls();
  qsizetype p = format_.indexOf(QLatin1Char(' '));
  const bool digitFirst =
      !format_.isEmpty() && format_[0] >= QLatin1Char('0') && format_[0] <= QLatin1Char('9');
  if (!format_.isEmpty() && !digitFirst) p = 0;
  if (p >= 0) {
    format_ = format_.left(p);
    auto* format = Item<QComboBox>(IDC_KDOBJ_FORMAT);
    format->setEditText(format_);
    if (QLineEdit* edit = format->lineEdit()) edit->selectAll();
  }
  UpdateCommands();
}

void CToolKDOBJ::SendCaption(int id) {
  const QByteArray line = GetDlgItemText(id).toLocal8Bit();
  WriteCommLineFrom("object", line.constData());
}

void CToolKDOBJ::OnBrowse() {
  ReadControls();
  const QByteArray initial = fileName_.toLocal8Bit();
  CFileDialogEx dialog(TRUE, nullptr, initial.constData(),
                       OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST, kBrowseFilter, this);
  if (dialog.DoModal() == IDOK) fileName_ = QString::fromLocal8Bit(dialog.GetPathName());
  WriteValuesToControls();
  UpdateCommands();
}
