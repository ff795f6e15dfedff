#include "tools/panel_test_host.h"

#include <QApplication>
#include <QComboBox>

#include "platform/sync/clock.h"
#include "platform/ui/qt/qt_ui.h"
#include "platform/ui/ui_thread.h"
#include "resources/console_ids.h"
#include "tools/tool_tests.h"

namespace {

std::string ToLocal(const QString& text) { return text.toLocal8Bit().toStdString(); }

}  // namespace

PanelTestHost::PanelTestHost(CToolTests* panel, qv::ui::TemplateDialog* console)
    : panel_(panel), console_(console) {}

void PanelTestHost::Detach() {
  ending_ = true;
  while (waitCursors_ > 0) {
    QApplication::restoreOverrideCursor();
    --waitCursors_;
  }
}

template <class R, class F>
R PanelTestHost::OnPanel(R fallback, F&& fn) {
  R result = fallback;
  qv::ui::RunOnUiThread([&] {
    if (ending_ || panel_.isNull()) return;
    result = fn(*panel_, console_.data());
  });
  return result;
}

template <class R, class F>
R PanelTestHost::OnConsole(R fallback, F&& fn) {
  // A caller on the UI thread is itself the command in progress: it cannot wait for it.
  const bool calledOnUi = qv::ui::IsUiThread();
  for (;;) {
    bool ran = false;
    R result = fallback;
    qv::ui::RunOnUiThread([&] {
      ran = true;
      if (ending_ || panel_.isNull()) return;
      if (qv::ui::UiCommandInProgress() && !calledOnUi) {
        ran = false;
        return;
      }
      const qv::ui::UiCommandScope command;
      result = fn(*panel_, console_.data());
    });
    if (ran) return result;
    Sleep(5);
  }
}

bool PanelTestHost::IsChecked(int id) {
  return OnPanel(false, [id](CToolTests& p, qv::ui::TemplateDialog*) {
    return p.IsDlgButtonChecked(id) == BST_CHECKED;
  });
}

std::string PanelTestHost::ItemText(int id) {
  return OnPanel(std::string(), [id](CToolTests& p, qv::ui::TemplateDialog*) {
    return ToLocal(p.GetDlgItemText(id));
  });
}

void PanelTestHost::SetItemText(int id, const std::string& text) {
  OnPanel(0, [&](CToolTests& p, qv::ui::TemplateDialog*) {
    p.SetDlgItemText(id, QString::fromLocal8Bit(text));
    return 0;
  });
}

void PanelTestHost::EnableItem(int id, bool enable) {
  OnPanel(0, [&](CToolTests& p, qv::ui::TemplateDialog*) {
    // A test that ends after the port closed leaves its button as the close left it: the
    // controls after the Non-Overlap group wait for the next connection.
    if (enable && !p.ConnectionControlsEnabled() && p.FollowsConnection(id)) return 0;
    p.EnableDlgItem(id, enable);
    return 0;
  });
}

void PanelTestHost::ConsoleOpenClose() {
  OnConsole(0, [](CToolTests&, qv::ui::TemplateDialog* console) {
    if (console) console->SendCommand(IDC_OPENCLOSE);
    return 0;
  });
}

void PanelTestHost::ConsolePortOpened(int start) {
  OnConsole(0, [start](CToolTests& p, qv::ui::TemplateDialog*) {
    if (p.portOpened) p.portOpened(start);
    return 0;
  });
}

bool PanelTestHost::ConsoleSelectSpeed(const std::string& prefix) {
  return OnConsole(false, [&](CToolTests&, qv::ui::TemplateDialog* console) {
    auto* speed = console ? console->Item<QComboBox>(IDC_SPEED) : nullptr;
    if (speed == nullptr) return false;
    // As CB_SELECTSTRING over the whole list: the first entry that begins with the text, in
    // any case.
    const QString start = QString::fromLocal8Bit(prefix);
    for (int i = 0; i < speed->count(); ++i) {
      if (!speed->itemText(i).startsWith(start, Qt::CaseInsensitive)) continue;
      speed->setCurrentIndex(i);
      console->SendCommand(IDC_SPEED, CBN_SELCHANGE);
      return true;
    }
    return false;
  });
}

std::string PanelTestHost::ConsolePortText() {
  return OnPanel(std::string(), [](CToolTests&, qv::ui::TemplateDialog* console) {
    return console ? ToLocal(console->GetDlgItemText(IDC_PORT)) : std::string();
  });
}

std::string PanelTestHost::ConsoleCommandLineText() {
  return OnPanel(std::string(), [](CToolTests&, qv::ui::TemplateDialog* console) {
    return console ? ToLocal(console->GetDlgItemText(IDC_SENDLINE_TEXT)) : std::string();
  });
}

int PanelTestHost::ShowBox(const std::string& text, const std::string& caption, UINT flags) {
  // The box service carries a worker's box to the UI thread itself; the owner is only a handle.
  QWidget* owner = OnPanel<QWidget*>(nullptr, [](CToolTests& p, qv::ui::TemplateDialog*) {
    return static_cast<QWidget*>(&p);
  });
  if (owner == nullptr) return 0;
  return MessageBoxA(qv::ui::ToHwnd(owner), text.c_str(), caption.c_str(), flags);
}

void PanelTestHost::BindTimer(WPARAM id, std::function<void()> onExpiry) {
  OnPanel(0, [&](CToolTests& p, qv::ui::TemplateDialog*) {
    p.timerHandlers_[id] = std::move(onExpiry);
    return 0;
  });
}

void PanelTestHost::ArmTimer(WPARAM id, UINT milliseconds) {
  OnPanel(0, [&](CToolTests& p, qv::ui::TemplateDialog*) {
    p.SendMessage(CToolTests::WM_START_TIMER, id, LPARAM(milliseconds));
    return 0;
  });
}

void PanelTestHost::DisarmTimer(WPARAM id) {
  OnPanel(0, [&](CToolTests& p, qv::ui::TemplateDialog*) {
    p.SendMessage(CToolTests::WM_STOP_TIMER, id, 0);
    return 0;
  });
}

void PanelTestHost::SetWaitCursor(bool wait) {
  OnPanel(0, [&](CToolTests&, qv::ui::TemplateDialog*) {
    if (wait) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
      ++waitCursors_;
    } else if (waitCursors_ > 0) {
      QApplication::restoreOverrideCursor();
      --waitCursors_;
    }
    return 0;
  });
}
