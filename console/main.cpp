#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QVBoxLayout>

#include "platform/ui/qt/qt_ui.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  qv::ui::InstallQtUi();
  QDialog dialog;
  dialog.setWindowTitle(QStringLiteral("quor_vix"));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(QStringLiteral("quor_vix")));
  dialog.show();
  return app.exec();
}
