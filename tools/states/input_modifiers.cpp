#include "tools/states/input_modifiers.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QInputEvent>
#include <QKeyEvent>

namespace qv::states {
namespace {

class ModifierWatch : public QObject {
 public:
  explicit ModifierWatch(QObject* app) : QObject(app) {
    modifiers_ = QGuiApplication::keyboardModifiers();
    app->installEventFilter(this);
  }
  Qt::KeyboardModifiers modifiers() const { return modifiers_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
        modifiers_ = static_cast<QInputEvent*>(event)->modifiers();
        break;
      case QEvent::KeyPress:
      case QEvent::KeyRelease: {
        auto* key = static_cast<QKeyEvent*>(event);
        modifiers_ = key->modifiers();
        // Window systems differ in whether a modifier key's own event counts it; after its
        // press it is down, after its release it is up.
        if (key->key() == Qt::Key_Control)
          modifiers_.setFlag(Qt::ControlModifier, event->type() == QEvent::KeyPress);
        break;
      }
      case QEvent::ApplicationDeactivate:
        // Keys released while another application had the keyboard are never seen here.
        modifiers_ = Qt::NoModifier;
        break;
      default: break;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  Qt::KeyboardModifiers modifiers_;
};

ModifierWatch* watch = nullptr;

}  // namespace

void WatchInputModifiers() {
  if (watch != nullptr || QCoreApplication::instance() == nullptr) return;
  watch = new ModifierWatch(QCoreApplication::instance());
  // The watch goes with the application object.
  QObject::connect(watch, &QObject::destroyed, [] { watch = nullptr; });
}

Qt::KeyboardModifiers InputModifiers() {
  return watch != nullptr ? watch->modifiers() : QGuiApplication::keyboardModifiers();
}

}  // namespace qv::states
