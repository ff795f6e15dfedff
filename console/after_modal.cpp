#include "console/after_modal.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>

#include "platform/ui/qt/queued_call.h"

namespace qv::console {
namespace {

// Lives as the modal window's child: it hears the window hide, or goes with it.
class AfterModal : public QObject {
 public:
  AfterModal(QWidget* modal, QObject* context, std::function<void()> run)
      : QObject(modal), context_(context), run_(std::move(run)) {
    modal->installEventFilter(this);
  }
  ~AfterModal() override { Release(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Hide && run_) {
      Release();
      deleteLater();
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  void Release() {
    if (run_ && !context_.isNull()) qv::ui::QueueCall(context_.data(), std::move(run_));
    run_ = nullptr;
  }
  QPointer<QObject> context_;
  std::function<void()> run_;
};

}  // namespace

void RunAfterModal(QWidget* modal, QObject* context, std::function<void()> run) {
  new AfterModal(modal, context, std::move(run));
}

}  // namespace qv::console
