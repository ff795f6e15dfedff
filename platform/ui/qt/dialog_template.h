// Dialogs built from templates: a list of controls (control ID, class, text, style, position and
// size in dialog units) created in template order, with handlers bound by control ID.
//
// Every created control is a direct child of the dialog and carries the integer property
// "controlId"; the children keep template order, so code that walks them (the layout manager,
// tab order) sees the template. Dialog units convert to pixels with the dialog font: x units are a
// quarter of the font's average character width, y units an eighth of its height.
//
// Control classes follow the Win32 names: "BUTTON" (push button, check box, radio button, group
// box, by style), "EDIT", "STATIC", "COMBOBOX", "LISTBOX", "SCROLLBAR" (size grip); other classes
// are registered with RegisterControlClass.
#pragma once

#include <QDialog>
#include <QFont>
#include <QHash>
#include <QRect>
#include <QString>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "platform/types.h"
#include "platform/ui/message_box.h"  // IDOK, IDCANCEL

// Window styles.
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_HSCROLL = 0x00100000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD DS_MODALFRAME = 0x80;
constexpr DWORD DS_SETFONT = 0x40;

// Button styles.
constexpr DWORD BS_PUSHBUTTON = 0x0;
constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
constexpr DWORD BS_CHECKBOX = 0x2;
constexpr DWORD BS_AUTOCHECKBOX = 0x3;
constexpr DWORD BS_RADIOBUTTON = 0x4;
constexpr DWORD BS_3STATE = 0x5;
constexpr DWORD BS_AUTO3STATE = 0x6;
constexpr DWORD BS_GROUPBOX = 0x7;
constexpr DWORD BS_AUTORADIOBUTTON = 0x9;
constexpr DWORD BS_TYPEMASK = 0xF;
constexpr DWORD BS_PUSHLIKE = 0x1000;
constexpr DWORD BS_MULTILINE = 0x2000;

// Edit styles.
constexpr DWORD ES_CENTER = 0x1;
constexpr DWORD ES_RIGHT = 0x2;
constexpr DWORD ES_MULTILINE = 0x4;
constexpr DWORD ES_AUTOVSCROLL = 0x40;
constexpr DWORD ES_AUTOHSCROLL = 0x80;
constexpr DWORD ES_READONLY = 0x800;
constexpr DWORD ES_WANTRETURN = 0x1000;
constexpr DWORD ES_NUMBER = 0x2000;

// Static styles.
constexpr DWORD SS_LEFT = 0x0;
constexpr DWORD SS_CENTER = 0x1;
constexpr DWORD SS_RIGHT = 0x2;
constexpr DWORD SS_NOPREFIX = 0x80;
constexpr DWORD SS_SUNKEN = 0x1000;

// Combo box styles.
constexpr DWORD CBS_SIMPLE = 0x1;
constexpr DWORD CBS_DROPDOWN = 0x2;
constexpr DWORD CBS_DROPDOWNLIST = 0x3;
constexpr DWORD CBS_AUTOHSCROLL = 0x40;
constexpr DWORD CBS_SORT = 0x100;

// Scroll bar styles.
constexpr DWORD SBS_SIZEGRIP = 0x10;

// Notification codes of WM_COMMAND.
constexpr int BN_CLICKED = 0;
constexpr int CBN_SELCHANGE = 1;
constexpr int CBN_EDITCHANGE = 5;
constexpr int CBN_SELENDOK = 9;
constexpr int CBN_SELENDCANCEL = 10;
constexpr int EN_KILLFOCUS = 0x200;
constexpr int EN_CHANGE = 0x300;

// Check states.
constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;
constexpr UINT BST_INDETERMINATE = 2;

constexpr int IDC_STATIC = -1;

namespace qv::ui {

struct ControlTemplate {
  int id = IDC_STATIC;
  QString className;  // "BUTTON", "EDIT", "STATIC", "COMBOBOX", "LISTBOX", "SCROLLBAR", registered
  QString text;
  DWORD style = 0;                   // WS_VISIBLE must be set for a visible control
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
};

struct DialogTemplate {
  int id = 0;
  QString caption;
  DWORD style = 0;
  // Position (relative to the owner's client area, for an owned window) and client size, in
  // dialog units.
  int x = 0, y = 0, cx = 0, cy = 0;
  int fontPointSize = 8;
  QString fontFamily;  // empty: the application's default family
  std::vector<ControlTemplate> controls;
};

// Shorthand for a visible child control.
ControlTemplate Control(int id, const char* className, const QString& text, DWORD style, int x,
                        int y, int cx, int cy);

// Dialog base units of a font: pixels per 4 x units and per 8 y units.
struct DialogUnits {
  int baseX = 6;   // average character width
  int baseY = 13;  // character height
  int X(int units) const { return units * baseX / 4; }
  int Y(int units) const { return units * baseY / 8; }
  QRect ToPixels(int x, int y, int cx, int cy) const { return QRect(X(x), Y(y), X(cx), Y(cy)); }
};
DialogUnits DialogUnitsFor(const QFont& font);

// Creates a control of a registered class; the dialog then sets geometry, id and state.
using ControlFactory = std::function<QWidget*(const ControlTemplate&, QWidget* parent)>;
void RegisterControlClass(const QString& className, ControlFactory factory);

// The "controlId" property of a widget (0 when it has none).
int ControlId(const QWidget* widget);

class TemplateDialog : public QDialog {
 public:
  explicit TemplateDialog(const DialogTemplate& dialogTemplate, QWidget* parent = nullptr);
  ~TemplateDialog() override;

  const DialogTemplate& Template() const { return template_; }
  const DialogUnits& Units() const { return units_; }
  QFont DialogFont() const { return dialogFont_; }

  // Builds the controls (once) and runs OnInitDialog. Modeless dialogs call it and show
  // themselves; DoModal calls it itself.
  bool Create();
  bool IsCreated() const { return created_; }
  // Runs the dialog modally; the result is what EndDialog was given.
  int DoModal();
  void EndDialog(int result);
  // Runs OnDestroy once and hides the window: the end of the window's life. The object stays.
  void DestroyWindow();
  bool IsDestroyed() const { return destroyed_; }

  // The control with that id, or null (GetDlgItem).
  QWidget* GetDlgItem(int id) const;
  template <class W>
  W* Item(int id) const {
    return dynamic_cast<W*>(GetDlgItem(id));
  }
  void EnableDlgItem(int id, bool enable);
  void ShowDlgItem(int id, bool show);
  void CheckDlgButton(int id, UINT check);
  UINT IsDlgButtonChecked(int id) const;
  void SetDlgItemText(int id, const QString& text);
  QString GetDlgItemText(int id) const;
  void SetDlgItemInt(int id, int value);
  int GetDlgItemInt(int id, bool* ok = nullptr) const;

  // Handlers of WM_COMMAND by control (or command) id and notification code.
  using Handler = std::function<void()>;
  void OnCommand(int id, Handler handler) { OnNotify(id, BN_CLICKED, std::move(handler)); }
  void OnNotify(int id, int code, Handler handler);
  // Runs the handler of (id, code) now; false when none is bound. IDOK and IDCANCEL without a
  // handler end the dialog.
  bool SendCommand(int id, int code = BN_CLICKED);
  // Queues the command for the dialog's thread (PostMessage of WM_COMMAND); callable from any
  // thread. Dropped when the dialog is gone.
  void PostCommand(int id, int code = BN_CLICKED);

  // Private messages (WM_APP + n): bound handlers, posted from any thread.
  using MessageHandler = std::function<LPARAM(WPARAM, LPARAM)>;
  void OnMessage(UINT message, MessageHandler handler);
  void PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  LPARAM SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

 protected:
  // After the controls exist, before the dialog is shown. Return value as Win32's (ignored).
  virtual bool OnInitDialog() { return true; }
  // Once, when the window ends (DestroyWindow, or the dialog object going away).
  virtual void OnDestroy() {}

  void reject() override;  // Escape and the close box: IDCANCEL
  void accept() override;  // Enter without a default button: IDOK
  bool event(QEvent* e) override;

 private:
  QWidget* CreateControl(const ControlTemplate& control);
  void Connect(QWidget* widget, int id);

  DialogTemplate template_;
  QFont dialogFont_;
  DialogUnits units_;
  bool created_ = false;
  bool destroyed_ = false;
  std::map<std::pair<int, int>, Handler> handlers_;
  std::map<UINT, MessageHandler> messageHandlers_;
};

}  // namespace qv::ui
