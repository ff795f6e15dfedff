#include "platform/ui/qt/dialog_template.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QSizeGrip>
#include <mutex>

#include "platform/ui/qt/queued_call.h"

namespace qv::ui {
namespace {

std::mutex& FactoryLock() {
  static std::mutex lock;
  return lock;
}
QHash<QString, ControlFactory>& Factories() {
  static QHash<QString, ControlFactory> factories;
  return factories;
}

// A check box that, like a Win32 non-automatic one, changes only when the program sets it.
class DialogCheckBox : public QCheckBox {
 public:
  DialogCheckBox(const QString& text, bool automatic, QWidget* parent)
      : QCheckBox(text, parent), automatic_(automatic) {}

  // The program's own setting (CheckDlgButton): the one way a non-automatic box changes.
  void SetByProgram(Qt::CheckState state) {
    const bool outer = settingByProgram_;
    settingByProgram_ = true;
    setCheckState(state);
    settingByProgram_ = outer;
    shown_ = state;
  }

 protected:
  void nextCheckState() override {
    if (automatic_) QCheckBox::nextCheckState();
  }
  // A non-automatic box set from elsewhere (toggle() or setChecked(), as the accessibility
  // interface's toggle action does) takes its state back and is clicked instead, so that its
  // handler decides what the box and the line become, as for a mouse click.
  void checkStateSet() override {
    // What setChecked() makes of the box: it leaves no indeterminate state.
    const Qt::CheckState becomes = isChecked() ? Qt::Checked : Qt::Unchecked;
    if (automatic_ || settingByProgram_ || becomes == shown_) {
      QCheckBox::checkStateSet();
      return;
    }
    SetByProgram(shown_);
    QMetaObject::invokeMethod(
        this, [this] { click(); }, Qt::QueuedConnection);
  }

 private:
  bool automatic_;
  bool settingByProgram_ = false;
  Qt::CheckState shown_ = Qt::Unchecked;  // as the program last set it
};

// Statics show "&x" as an underlined x in Win32; here the marker is removed ("&&" keeps one &).
QString WithoutMnemonic(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') {
        out += '&';
        ++i;
      }
      continue;
    }
    out += text[i];
  }
  return out;
}

QWidget* CreateButton(const ControlTemplate& c, QWidget* parent) {
  const DWORD type = c.style & BS_TYPEMASK;
  switch (type) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE: {
      const bool automatic = type == BS_AUTOCHECKBOX || type == BS_AUTO3STATE;
      if (c.style & BS_PUSHLIKE) {
        auto* b = new QPushButton(c.text, parent);
        b->setCheckable(true);
        return b;
      }
      auto* b = new DialogCheckBox(c.text, automatic, parent);
      b->setTristate(type == BS_3STATE || type == BS_AUTO3STATE);
      return b;
    }
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON: {
      auto* b = new QRadioButton(c.text, parent);
      b->setAutoExclusive(false);  // grouped by WS_GROUP, see TemplateDialog::Create
      return b;
    }
    case BS_GROUPBOX: {
      // Qt reads "&" in a group title as a shortcut marker: the one left shows as "&&".
      auto* g = new QGroupBox(
          WithoutMnemonic(c.text).replace(QLatin1Char('&'), QLatin1String("&&")), parent);
      // A Win32 group box is a sibling drawn around its controls, not their parent.
      g->setAttribute(Qt::WA_TransparentForMouseEvents);
      return g;
    }
    default: {
      auto* b = new QPushButton(c.text, parent);
      b->setAutoDefault(false);
      b->setDefault(type == BS_DEFPUSHBUTTON);
      return b;
    }
  }
}

QWidget* CreateEdit(const ControlTemplate& c, QWidget* parent) {
  if (c.style & ES_MULTILINE) {
    auto* e = new QPlainTextEdit(parent);
    e->setPlainText(c.text);
    e->setReadOnly(c.style & ES_READONLY);
    e->setLineWrapMode((c.style & (WS_HSCROLL | ES_AUTOHSCROLL)) ? QPlainTextEdit::NoWrap
                                                                 : QPlainTextEdit::WidgetWidth);
    e->setVerticalScrollBarPolicy((c.style & WS_VSCROLL) ? Qt::ScrollBarAlwaysOn
                                                         : Qt::ScrollBarAlwaysOff);
    return e;
  }
  auto* e = new QLineEdit(c.text, parent);
  e->setReadOnly(c.style & ES_READONLY);
  if (c.style & ES_NUMBER)
    e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
  if (c.style & ES_RIGHT) e->setAlignment(Qt::AlignRight);
  if (c.style & ES_CENTER) e->setAlignment(Qt::AlignHCenter);
  return e;
}

QWidget* CreateStatic(const ControlTemplate& c, QWidget* parent) {
  auto* l = new QLabel((c.style & SS_NOPREFIX) ? c.text : WithoutMnemonic(c.text), parent);
  l->setTextFormat(Qt::PlainText);
  Qt::Alignment a = Qt::AlignTop;
  switch (c.style & 0x3) {
    case SS_CENTER: a |= Qt::AlignHCenter; break;
    case SS_RIGHT: a |= Qt::AlignRight; break;
    default: a |= Qt::AlignLeft; break;
  }
  l->setAlignment(a);
  if (c.style & SS_SUNKEN) l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  return l;
}

QWidget* CreateCombo(const ControlTemplate& c, QWidget* parent) {
  auto* cb = new QComboBox(parent);
  const DWORD kind = c.style & 0x3;
  cb->setEditable(kind == CBS_DROPDOWN || kind == CBS_SIMPLE);
  cb->setInsertPolicy(QComboBox::NoInsert);
  cb->setProperty("sorted", bool(c.style & CBS_SORT));
  cb->setMaxVisibleItems(20);
  return cb;
}

}  // namespace

ControlTemplate Control(int id, const char* className, const QString& text, DWORD style, int x,
                        int y, int cx, int cy) {
  return ControlTemplate{
      id, QString::fromLatin1(className), text, style | WS_CHILD | WS_VISIBLE, x, y, cx, cy};
}

DialogUnits DialogUnitsFor(const QFont& font) {
  // The platform's rule: the average width of the 52 letters, rounded, and the font height.
  const QFontMetrics fm(font);
  const int letters =
      fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  DialogUnits u;
  u.baseX = std::max(1, (letters / 26 + 1) / 2);
  u.baseY = std::max(1, fm.height());
  return u;
}

void RegisterControlClass(const QString& className, ControlFactory factory) {
  std::lock_guard<std::mutex> hold(FactoryLock());
  Factories().insert(className.toUpper(), std::move(factory));
}

int ControlId(const QWidget* widget) { return widget ? widget->property("controlId").toInt() : 0; }

TemplateDialog::TemplateDialog(const DialogTemplate& dialogTemplate, QWidget* parent)
    : QDialog(parent), template_(dialogTemplate) {
  dialogFont_ = QApplication::font();
  if (!template_.fontFamily.isEmpty()) dialogFont_.setFamily(template_.fontFamily);
  if (template_.fontPointSize > 0) dialogFont_.setPointSize(template_.fontPointSize);
  setFont(dialogFont_);
  units_ = DialogUnitsFor(dialogFont_);
  setWindowTitle(template_.caption);
  setProperty("dialogTemplateId", template_.id);
  if (!(template_.style & WS_THICKFRAME)) setSizeGripEnabled(false);
}

TemplateDialog::~TemplateDialog() {
  // The window ends with the object when nobody destroyed it before.
  if (created_ && !destroyed_) {
    destroyed_ = true;
    OnDestroy();
  }
}

bool TemplateDialog::Create() {
  if (created_) return true;
  created_ = true;
  resize(units_.X(template_.cx), units_.Y(template_.cy));
  if (QWidget* owner = parentWidget(); owner && (template_.x || template_.y)) {
    QPoint at = owner->mapToGlobal(QPoint(units_.X(template_.x), units_.Y(template_.y)));
    // Kept on the owner's screen.
    if (QScreen* screen = owner->screen()) {
      const QRect area = screen->availableGeometry();
      at.setX(std::max(area.left(), std::min(at.x(), area.right() + 1 - width())));
      at.setY(std::max(area.top(), std::min(at.y(), area.bottom() + 1 - height())));
    }
    move(at);
  } else if (owner == nullptr) {
    // A window without owner starts centred on the screen, so that the windows it owns can be
    // placed relative to it before it is shown.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      move(area.center() - QPoint(width() / 2, height() / 2));
    }
  }
  QButtonGroup* radioGroup = nullptr;
  for (const ControlTemplate& c : template_.controls) {
    QWidget* w = CreateControl(c);
    if (auto* radio = qobject_cast<QRadioButton*>(w)) {
      // A run of radio buttons starting at one with WS_GROUP is one exclusive group.
      if (radioGroup == nullptr || (c.style & WS_GROUP)) radioGroup = new QButtonGroup(this);
      radioGroup->addButton(radio);
    } else {
      radioGroup = nullptr;
    }
  }
  OnInitDialog();
  return true;
}

QWidget* TemplateDialog::CreateControl(const ControlTemplate& c) {
  const QString cls = c.className.toUpper();
  QWidget* w = nullptr;
  {
    ControlFactory factory;
    {
      std::lock_guard<std::mutex> hold(FactoryLock());
      factory = Factories().value(cls);
    }
    if (factory) w = factory(c, this);
  }
  if (w == nullptr) {
    if (cls == "BUTTON") w = CreateButton(c, this);
    else if (cls == "EDIT") w = CreateEdit(c, this);
    else if (cls == "STATIC") w = CreateStatic(c, this);
    else if (cls == "COMBOBOX") w = CreateCombo(c, this);
    else if (cls == "LISTBOX") w = new QListWidget(this);
    else if (cls == "SCROLLBAR" && (c.style & SBS_SIZEGRIP)) w = new QSizeGrip(this);
    else w = new QWidget(this);  // an unknown class still holds its place and id
  }
  w->setParent(this);
  w->setProperty("controlId", c.id);
  w->setObjectName(QStringLiteral("ctl%1").arg(c.id));
  if (c.style & WS_TABSTOP) w->setFocusPolicy(Qt::StrongFocus);
  QRect r = units_.ToPixels(c.x, c.y, c.cx, c.cy);
  // A combo box's template height is that of its dropped list; the box itself is one line.
  if (qobject_cast<QComboBox*>(w)) r.setHeight(std::min(r.height(), w->sizeHint().height()));
  w->setGeometry(r);
  w->setEnabled(!(c.style & WS_DISABLED));
  w->setVisible(c.style & WS_VISIBLE);
  Connect(w, c.id);
  return w;
}

void TemplateDialog::Connect(QWidget* w, int id) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    connect(b, &QAbstractButton::clicked, this, [this, id] { SendCommand(id, BN_CLICKED); });
  } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
    connect(cb, &QComboBox::activated, this, [this, id] {
      SendCommand(id, CBN_SELCHANGE);
      SendCommand(id, CBN_SELENDOK);
    });
    if (cb->isEditable())
      connect(cb, &QComboBox::editTextChanged, this,
              [this, id] { SendCommand(id, CBN_EDITCHANGE); });
  } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
    connect(e, &QLineEdit::textChanged, this, [this, id] { SendCommand(id, EN_CHANGE); });
    connect(e, &QLineEdit::editingFinished, this, [this, id] { SendCommand(id, EN_KILLFOCUS); });
  }
}

int TemplateDialog::DoModal() {
  Create();
  setModal(true);
  return exec();
}

void TemplateDialog::EndDialog(int result) { done(result); }

void TemplateDialog::DestroyWindow() {
  if (!created_ || destroyed_) return;
  destroyed_ = true;
  OnDestroy();
  hide();
}

QWidget* TemplateDialog::GetDlgItem(int id) const {
  for (QObject* child : children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (w && !w->isWindow() && w->property("controlId").toInt() == id &&
        w->property("controlId").isValid())
      return w;
  }
  return nullptr;
}

void TemplateDialog::EnableDlgItem(int id, bool enable) {
  if (QWidget* w = GetDlgItem(id)) w->setEnabled(enable);
}

void TemplateDialog::ShowDlgItem(int id, bool show) {
  if (QWidget* w = GetDlgItem(id)) w->setVisible(show);
}

void TemplateDialog::CheckDlgButton(int id, UINT check) {
  auto* b = Item<QAbstractButton>(id);
  if (b == nullptr) return;
  if (auto* cb = qobject_cast<QCheckBox*>(b)) {
    const Qt::CheckState state = check == BST_INDETERMINATE && cb->isTristate()
                                     ? Qt::PartiallyChecked
                                 : check ? Qt::Checked
                                         : Qt::Unchecked;
    if (auto* own = dynamic_cast<DialogCheckBox*>(cb)) {
      own->SetByProgram(state);
    } else {
      cb->setCheckState(state);
    }
  } else {
    b->setChecked(check != BST_UNCHECKED);
  }
}

UINT TemplateDialog::IsDlgButtonChecked(int id) const {
  auto* b = Item<QAbstractButton>(id);
  if (b == nullptr) return BST_UNCHECKED;
  if (auto* cb = qobject_cast<QCheckBox*>(b)) {
    switch (cb->checkState()) {
      case Qt::Checked: return BST_CHECKED;
      case Qt::PartiallyChecked: return BST_INDETERMINATE;
      default: return BST_UNCHECKED;
    }
  }
  return b->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

void TemplateDialog::SetDlgItemText(int id, const QString& text) {
  QWidget* w = GetDlgItem(id);
  if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(text);
  else if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(text);
  else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(text);
  else if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(text);
  else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) p->setPlainText(text);
  else if (auto* c = qobject_cast<QComboBox*>(w)) {
    if (c->isEditable()) {
      c->setEditText(text);
    } else {
      const int i = c->findText(text);
      c->setCurrentIndex(i);
    }
  } else if (w) {
    // Controls of registered classes take their text through the "text" property.
    w->setProperty("text", text);
  }
}

QString TemplateDialog::GetDlgItemText(int id) const {
  QWidget* w = GetDlgItem(id);
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* p = qobject_cast<QPlainTextEdit*>(w)) return p->toPlainText();
  if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
  if (w) return w->property("text").toString();
  return QString();
}

void TemplateDialog::SetDlgItemInt(int id, int value) {
  SetDlgItemText(id, QString::number(value));
}

int TemplateDialog::GetDlgItemInt(int id, bool* ok) const {
  return GetDlgItemText(id).trimmed().toInt(ok);
}

void TemplateDialog::OnNotify(int id, int code, Handler handler) {
  handlers_[{id, code}] = std::move(handler);
}

bool TemplateDialog::SendCommand(int id, int code) {
  auto it = handlers_.find({id, code});
  if (it != handlers_.end() && it->second) {
    // A copy: the handler may rebind itself or end the dialog.
    Handler h = it->second;
    h();
    return true;
  }
  if (code == BN_CLICKED && id == IDOK) {
    EndDialog(IDOK);
    return true;
  }
  if (code == BN_CLICKED && id == IDCANCEL) {
    EndDialog(IDCANCEL);
    return true;
  }
  return false;
}

// Posted commands and messages are queued calls on the dialog's thread (any thread may post):
// they keep their order with the other queued work, and one still queued when the dialog goes
// is dropped with it. A WM_COMMAND's id travels in 16 bits, as in its wParam.
void TemplateDialog::PostCommand(int id, int code) {
  const WPARAM wParam = WPARAM(unsigned(id) & 0xFFFF) | (WPARAM(code) << 16);
  QueueCall(this, [this, wParam] {
    const int posted = int(wParam & 0xFFFF);
    SendCommand(posted == 0xFFFF ? -1 : posted, int((wParam >> 16) & 0xFFFF));
  });
}

void TemplateDialog::OnMessage(UINT message, MessageHandler handler) {
  messageHandlers_[message] = std::move(handler);
}

void TemplateDialog::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  QueueCall(this, [this, message, wParam, lParam] { SendMessage(message, wParam, lParam); });
}

LPARAM TemplateDialog::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  auto it = messageHandlers_.find(message);
  if (it == messageHandlers_.end() || !it->second) return 0;
  MessageHandler h = it->second;
  return h(wParam, lParam);
}

void TemplateDialog::reject() { SendCommand(IDCANCEL, BN_CLICKED); }

void TemplateDialog::accept() { SendCommand(IDOK, BN_CLICKED); }

// Posted commands and messages arrive as queued calls (see PostCommand), not as events.
bool TemplateDialog::event(QEvent* e) { return QDialog::event(e); }

}  // namespace qv::ui
