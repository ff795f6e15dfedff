#include "platform/ui/qt/qt_ui.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QWidget>

#include "platform/ui/qt/queued_call.h"
#include "platform/ui/ui_thread.h"

namespace qv::ui {
namespace {

// Lives on the UI thread; a queued call to it serves the workers' requests.
class UiRequestServer : public QObject {
 public:
  using QObject::QObject;
};

QMessageBox::Icon IconFor(UINT flags) {
  switch (flags & MB_ICONMASK) {
    case MB_ICONHAND: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONEXCLAMATION: return QMessageBox::Warning;
    case MB_ICONASTERISK: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

struct ButtonSpec {
  const char* text;
  QMessageBox::ButtonRole role;
  int result;
};

std::vector<ButtonSpec> ButtonsFor(UINT flags) {
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return {{"OK", QMessageBox::AcceptRole, IDOK}, {"Cancel", QMessageBox::RejectRole, IDCANCEL}};
    case MB_ABORTRETRYIGNORE:
      return {{"&Abort", QMessageBox::RejectRole, IDABORT},
              {"&Retry", QMessageBox::AcceptRole, IDRETRY},
              {"&Ignore", QMessageBox::ActionRole, IDIGNORE}};
    case MB_YESNOCANCEL:
      return {{"&Yes", QMessageBox::YesRole, IDYES},
              {"&No", QMessageBox::NoRole, IDNO},
              {"Cancel", QMessageBox::RejectRole, IDCANCEL}};
    case MB_YESNO:
      return {{"&Yes", QMessageBox::YesRole, IDYES}, {"&No", QMessageBox::NoRole, IDNO}};
    case MB_RETRYCANCEL:
      return {{"&Retry", QMessageBox::AcceptRole, IDRETRY},
              {"Cancel", QMessageBox::RejectRole, IDCANCEL}};
    default: return {{"OK", QMessageBox::AcceptRole, IDOK}};
  }
}

// Ctrl+C copies caption, text and buttons the way a Windows box does, wherever the focus is.
class CopyableMessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->matches(QKeySequence::Copy)) {
      QString copied = QStringLiteral(
                           "---------------------------\n%1\n---------------------------\n%2\n"
                           "---------------------------\n")
                           .arg(windowTitle(), text());
      QStringList names;
      for (QAbstractButton* b : buttons()) names << b->text().remove('&');
      copied +=
          names.join(QStringLiteral("   ")) + QStringLiteral("\n---------------------------\n");
      QGuiApplication::clipboard()->setText(copied);
      return;
    }
    QMessageBox::keyPressEvent(event);
  }
};

}  // namespace

int QtMessageBoxes::Show(HWND owner, const std::string& text, const std::string& caption,
                         UINT flags) {
  QWidget* parent = FromHwnd(owner);
  if (parent == nullptr) parent = QApplication::activeWindow();
  if (parent == nullptr) {
    // No owner and no active window (a worker's box while the program is not in front): the
    // box goes over the first visible main window, so it cannot open behind it and leave the
    // window refusing every click with no box in sight.
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->isVisible() && w->parentWidget() == nullptr && !qobject_cast<QMessageBox*>(w)) {
        parent = w;
        break;
      }
    }
  }
  CopyableMessageBox box(parent);
  box.setWindowTitle(QString::fromLocal8Bit(caption.c_str()));
  box.setText(QString::fromLocal8Bit(text.c_str()));
  box.setTextFormat(Qt::PlainText);
  box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  box.setIcon(IconFor(flags));
  if (flags & (MB_TASKMODAL | MB_SYSTEMMODAL)) box.setWindowModality(Qt::ApplicationModal);
  if (flags & (MB_SETFOREGROUND | MB_TOPMOST | MB_SYSTEMMODAL))
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);

  std::vector<std::pair<QAbstractButton*, int>> results;
  const auto specs = ButtonsFor(flags);
  for (std::size_t i = 0; i < specs.size(); ++i) {
    // One role for all keeps the Win32 order of the buttons (Abort, Retry, Ignore; Yes, No).
    QPushButton* b = box.addButton(QString::fromLatin1(specs[i].text), QMessageBox::ActionRole);
    results.emplace_back(b, specs[i].result);
    if ((i == 1 && (flags & MB_DEFBUTTON2)) || (i == 0 && !(flags & MB_DEFBUTTON2)))
      box.setDefaultButton(b);
  }
  // Escape answers Cancel where there is one, otherwise closes an OK box as OK.
  for (auto& [button, result] : results)
    if (result == IDCANCEL || (results.size() == 1 && result == IDOK)) box.setEscapeButton(button);

  box.exec();
  for (auto& [button, result] : results)
    if (box.clickedButton() == button) return result;
  return (flags & MB_TYPEMASK) == MB_OK ? IDOK : 0;
}

HWND FirstVisibleUnownedQtWindow() {
  if (qApp == nullptr || QThread::currentThread() != qApp->thread()) return nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget->parentWidget() == nullptr) return ToHwnd(widget);
  }
  return nullptr;
}

void InstallQtUi() {
  static QtMessageBoxes boxes;
  SetThreadWindowLookup(&FirstVisibleUnownedQtWindow);
  static QPointer<UiRequestServer> server;
  SetUiThread();
  server = new UiRequestServer(qApp);
  QPointer<UiRequestServer> target = server;
  SetUiWakeHook([target] {
    if (UiRequestServer* s = target.data()) QueueCall(s, [] { ServeUiRequests(); });
  });
  if (CurrentMessageBoxProvider() == nullptr) SetMessageBoxProvider(&boxes);
}

}  // namespace qv::ui
