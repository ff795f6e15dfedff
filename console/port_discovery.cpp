#include "console/port_discovery.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QString>
#include <QStyle>
#include <QVariant>
#include <algorithm>

#include "platform/devices/offered_ports.h"
#include "platform/devices/port_source.h"
#include "platform/sync/last_error.h"
#include "support/reporting/error_reporting.h"

namespace qv::console {
namespace {

constexpr const char* kSourceModule = "quor_vixDlg";
// Where a combo box keeps the least width its drop-down list may have.
constexpr const char* kDroppedWidthProperty = "qvDroppedWidth";

// Qt's combo box puts the text of its current entry into the edit field whenever the list
// changes under it; the port list must leave what the user typed or chose alone. This keeps the
// edit field's text, caret and selection across such changes.
class EditFieldKeeper {
 public:
  explicit EditFieldKeeper(QComboBox* combo) : edit_(combo->lineEdit()) {
    if (edit_ == nullptr) return;
    text_ = edit_->text();
    cursor_ = edit_->cursorPosition();
    selectionStart_ = edit_->selectionStart();
    selectionLength_ = edit_->selectedText().size();
  }
  ~EditFieldKeeper() {
    if (edit_ == nullptr) return;
    if (edit_->text() != text_) edit_->setText(text_);
    if (selectionStart_ >= 0) {
      edit_->setSelection(selectionStart_, int(selectionLength_));
    } else {
      edit_->setCursorPosition(cursor_);
    }
  }
  EditFieldKeeper(const EditFieldKeeper&) = delete;
  EditFieldKeeper& operator=(const EditFieldKeeper&) = delete;

 private:
  QLineEdit* edit_;
  QString text_;
  int cursor_ = 0;
  int selectionStart_ = -1;
  qsizetype selectionLength_ = 0;
};

// The first `limit` bytes of a UTF-8 text, without a character cut in half.
std::string Utf8Prefix(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  // Step back over continuation bytes to the start of the character that does not fit whole.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace

void DiscoverPorts(std::set<std::string>& labels) {
  for (const devices::PortEntry& entry : devices::OfferedPorts())
    labels.insert(devices::PortLabel(entry));
}

void RefreshPortList(QComboBox* combo) {
  if (combo == nullptr) return;
  std::set<std::string> labels;
  DiscoverPorts(labels);

  const QSignalBlocker quiet(combo);
  const EditFieldKeeper keep(combo);
  while (combo->count() > 0) combo->removeItem(0);
  for (const std::string& label : labels) AddSortedString(combo, QString::fromLocal8Bit(label));
  // An emptied list has no selection; the entries come back without one.
  combo->setCurrentIndex(-1);
  FitDroppedWidth(combo);
}

void SetDroppedWidth(QComboBox* combo, int minimumPixels) {
  if (combo == nullptr) return;
  combo->setProperty(kDroppedWidthProperty, minimumPixels);
  FitDroppedWidth(combo);
}

void FitDroppedWidth(QComboBox* combo) {
  if (combo == nullptr) return;
  QAbstractItemView* view = combo->view();
  const int minimum = combo->property(kDroppedWidthProperty).toInt();
  // The entries as the list draws them (text and the item margins of the style), the list's
  // frame, and room for its scroll bar.
  const int scrollBar = view->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view);
  const int widest =
      combo->count() > 0 ? view->sizeHintForColumn(0) + 2 * view->frameWidth() + scrollBar : 0;
  view->setMinimumWidth(std::max(minimum, widest));
}

std::string PortNameFromCombo(QComboBox* combo) {
  if (combo == nullptr) return {};
  const std::string text =
      Utf8Prefix(combo->currentText().toLocal8Bit().toStdString(), kPortNameSize - 1);
  std::string name = text;
  const std::size_t first = name.find_first_not_of(' ');
  name.erase(0, first == std::string::npos ? name.size() : first);
  const std::size_t suffix = name.find("    (");
  if (suffix != std::string::npos) {
    const std::size_t last = suffix == 0 ? std::string::npos : name.find_last_not_of(' ', suffix);
    name.resize(last == std::string::npos ? 0 : last + 1);
  }
  // The name only ever gets shorter: a different text is a changed one.
  if (name != text) {
    // Like CB_SETCURSEL -1 followed by the new text: no list entry stays selected.
    const QSignalBlocker quiet(combo);
    combo->setCurrentIndex(-1);
    combo->setEditText(QString::fromLocal8Bit(name));
  }
  return name;
}

void DeviceListCommand(const std::function<void(const char*)>& logText) {
  const devices::DeviceList list = devices::CurrentPortSource().DeviceDescriptions();
  for (const std::string& description : list.descriptions) {
    if (logText) logText(description.c_str());
  }
  if (list.error == 0) return;
  const DWORD code = qv::sync::Win32ErrorFromErrno(list.error);
  if (code == ERROR_SUCCESS || code == ERROR_NO_MORE_ITEMS) return;
  do {
    SetLastError(code);
  } while (RetryOnLastError(kSourceModule, __LINE__));
}

int AddSortedString(QComboBox* combo, const QString& text) {
  const EditFieldKeeper keep(combo);
  int index = 0;
  while (index < combo->count() &&
         QString::compare(combo->itemText(index), text, Qt::CaseInsensitive) <= 0) {
    ++index;
  }
  combo->insertItem(index, text);
  return index;
}

int ComboSelection(const QComboBox* combo) {
  if (combo == nullptr) return -1;
  const int current = combo->currentIndex();
  if (current < 0) return -1;
  return combo->itemText(current) == combo->currentText() ? current : -1;
}

}  // namespace qv::console
