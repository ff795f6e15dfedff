// The file dialog's remembered folders (through the scripted dialog service), the filter key, and
// the Qt dialogs behind the service.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "platform/store/profile_store.h"
#include "platform/ui/message_box.h"
#include "platform/ui/qt/dialog_service.h"
#include "support/file_dialog_ex.h"

namespace {

using qv::ui::ScriptedDialogs;

constexpr DWORD kCallerFlags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST;
constexpr const char* kConsoleFilter = "All files|*.*||";
constexpr const char* kPanelFilter = "All files (*.*)|*.*||";

// Scripted dialogs that fail the test on an unscripted dialog.
class TestDialogs : public ScriptedDialogs {
 public:
  TestDialogs() {
    onUnanswered = [](const Request&) { ADD_FAILURE() << "Unexpected dialog"; };
  }
  qv::ui::FileDialogRequest LastFile() const { return Requests().back().file; }
};

class FileDialogExTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    qv::store::UseFolderForTests(dir_.path());
  }
  static QString Stored(const char* filter) {
    return qv::store::GetProfileString(CFileDialogEx::kSection,
                                       QString::fromStdString(CFileDialogEx::FilterKey(filter)));
  }
  static int Run(const char* initialName, const char* filter) {
    CFileDialogEx dialog(TRUE, nullptr, initialName, kCallerFlags, filter);
    return dialog.DoModal();
  }
  QTemporaryDir dir_;
};

TEST(FileDialogExKey, RotateXorHashOfTheFilterInItsPlatformForm) {
  EXPECT_EQ(CFileDialogEx::FilterKey("abc||"), "00001b33");
  EXPECT_EQ(CFileDialogEx::FilterKey(kConsoleFilter), "6aa5bf08");
  EXPECT_EQ(CFileDialogEx::FilterKey(kPanelFilter), "fea6314d");
  // The separators count, as 0; everything after the first pair of them does not.
  EXPECT_NE(CFileDialogEx::FilterKey("ab|c||"), CFileDialogEx::FilterKey("abc||"));
  EXPECT_EQ(CFileDialogEx::FilterKey("abc||ignored"), "00001b33");
  EXPECT_EQ(CFileDialogEx::FilterKey("abc|"), "00001b33");
  EXPECT_EQ(CFileDialogEx::FilterKey(""), "00000000");
}

TEST_F(FileDialogExTest, DialogsWithTheSameFilterShareTheRememberedFolder) {
  TestDialogs dialogs;
  dialogs.AcceptFile("/data/sounds/song.wav");
  CFileDialogEx first(TRUE, nullptr, "", kCallerFlags, kConsoleFilter);
  ASSERT_EQ(first.DoModal(), IDOK);
  EXPECT_EQ(first.GetPathName(), "/data/sounds/song.wav");
  EXPECT_EQ(first.GetFileName(), "song.wav");
  EXPECT_EQ(dialogs.LastFile().initialFolder, "");  // nothing remembered yet
  EXPECT_EQ(Stored(kConsoleFilter), "/data/sounds");

  dialogs.AcceptFile("/data/sounds/other.wav");
  EXPECT_EQ(Run("song.wav", kConsoleFilter), IDOK);
  EXPECT_EQ(dialogs.LastFile().initialFolder, "/data/sounds");
  EXPECT_EQ(dialogs.LastFile().initialName, "song.wav");

  // Another filter, even one character apart, has its own folder.
  dialogs.AcceptFile("/data/objects/card.vcf");
  EXPECT_EQ(Run("", kPanelFilter), IDOK);
  EXPECT_EQ(dialogs.LastFile().initialFolder, "");
  dialogs.AcceptFile("/x/y.bin");
  EXPECT_EQ(Run("", "All files|*.*;||"), IDOK);
  EXPECT_EQ(dialogs.LastFile().initialFolder, "");
  EXPECT_EQ(Stored(kConsoleFilter), "/data/sounds");
  EXPECT_EQ(Stored(kPanelFilter), "/data/objects");
}

TEST_F(FileDialogExTest, AFullInitialPathOpensThereAndStoresNothing) {
  TestDialogs dialogs;
  qv::store::WriteProfileString(CFileDialogEx::kSection, "6aa5bf08", "/remembered");
  dialogs.AcceptFile("/elsewhere/picked.bin");
  EXPECT_EQ(Run("/home/user/files/last.bin", kConsoleFilter), IDOK);
  EXPECT_EQ(dialogs.LastFile().initialFolder, "/home/user/files");
  EXPECT_EQ(dialogs.LastFile().initialName, "last.bin");
  EXPECT_EQ(Stored(kConsoleFilter), "/remembered");
}

TEST_F(FileDialogExTest, CancelLeavesTheStoreUnchanged) {
  TestDialogs dialogs;
  dialogs.CancelFile();
  CFileDialogEx dialog(TRUE, nullptr, "", kCallerFlags, kConsoleFilter);
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(dialog.GetPathName(), "");
  EXPECT_FALSE(qv::store::HasProfileEntry(CFileDialogEx::kSection, "6aa5bf08"));

  qv::store::WriteProfileString(CFileDialogEx::kSection, "6aa5bf08", "/kept");
  dialogs.CancelFile();
  EXPECT_EQ(Run("", kConsoleFilter), IDCANCEL);
  EXPECT_EQ(dialogs.LastFile().initialFolder, "/kept");
  EXPECT_EQ(Stored(kConsoleFilter), "/kept");
}

TEST_F(FileDialogExTest, AFileInTheRootFolderStoresTheRoot) {
  TestDialogs dialogs;
  dialogs.AcceptFile("/top.bin");
  CFileDialogEx dialog(TRUE, nullptr, "", kCallerFlags, kConsoleFilter);
  ASSERT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(dialog.GetFolderPath(), "/");
  EXPECT_EQ(Stored(kConsoleFilter), "/");
  dialogs.AcceptFile("/top.bin");
  EXPECT_EQ(Run("", kConsoleFilter), IDOK);
  EXPECT_EQ(dialogs.LastFile().initialFolder, "/");
}

TEST_F(FileDialogExTest, RequestCarriesTheCallersModeFilterAndFlags) {
  TestDialogs dialogs;
  dialogs.AcceptFile("/a/b.txt");
  CFileDialogEx open(TRUE, nullptr, "b.txt", kCallerFlags, kPanelFilter);
  ASSERT_EQ(open.DoModal(), IDOK);
  qv::ui::FileDialogRequest r = dialogs.LastFile();
  EXPECT_TRUE(r.open);
  EXPECT_EQ(r.title, "Open");
  EXPECT_EQ(r.filter, kPanelFilter);
  // "*.*" is every file, names without a dot included.
  EXPECT_EQ(r.nameFilters, QStringList{"All files (*.*) (*)"});
  EXPECT_TRUE(r.fileMustExist);

  dialogs.AcceptFile("/a/c.log");
  CFileDialogEx save(FALSE, "log", nullptr, OFN_OVERWRITEPROMPT, "Logs|*.log;*.txt|All|*.*||");
  ASSERT_EQ(save.DoModal(), IDOK);
  r = dialogs.LastFile();
  EXPECT_FALSE(r.open);
  EXPECT_EQ(r.title, "Save As");
  EXPECT_EQ(r.defaultExtension, "log");
  EXPECT_TRUE(r.overwritePrompt);
  EXPECT_EQ(r.nameFilters, (QStringList{"Logs (*.log *.txt)", "All (*)"}));

  // Without a filter nothing is remembered.
  dialogs.AcceptFile("/q/r.bin");
  CFileDialogEx plain(TRUE, nullptr, "", kCallerFlags, nullptr);
  ASSERT_EQ(plain.DoModal(), IDOK);
  EXPECT_TRUE(qv::store::ProfileEntries(CFileDialogEx::kSection).contains("6aa5bf08") == false);
}

TEST(DialogService, ScriptedAnswersInOrderAndReportsUnscriptedDialogs) {
  ScriptedDialogs dialogs;
  int unanswered = 0;
  dialogs.onUnanswered = [&](const ScriptedDialogs::Request&) { ++unanswered; };
  QFont chosen("Monospace", 13);
  dialogs.AcceptFont(chosen);
  dialogs.CancelFont();

  qv::ui::FontDialogRequest request;
  request.title = "Log font";
  request.current = QFont("Sans", 9);
  qv::ui::FontDialogResult result = qv::ui::RunFontDialog(request);
  EXPECT_TRUE(result.accepted);
  EXPECT_EQ(result.font, chosen);
  result = qv::ui::RunFontDialog(request);
  EXPECT_FALSE(result.accepted);
  EXPECT_EQ(result.font, request.current);  // cancelled: the font stays
  EXPECT_EQ(unanswered, 0);

  // A file answer does not answer a font dialog: reported and cancelled, the answer kept.
  dialogs.AcceptFile("/f");
  EXPECT_FALSE(qv::ui::RunFontDialog(request).accepted);
  EXPECT_EQ(unanswered, 1);
  EXPECT_TRUE(qv::ui::RunFileDialog({}).accepted);
  EXPECT_FALSE(qv::ui::RunFileDialog({}).accepted);
  EXPECT_EQ(unanswered, 2);

  const auto requests = dialogs.Requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[0].kind, ScriptedDialogs::Kind::Font);
  EXPECT_EQ(requests[0].font.title, "Log font");
  EXPECT_EQ(requests[0].font.current, QFont("Sans", 9));
  EXPECT_EQ(requests[3].kind, ScriptedDialogs::Kind::File);
}

// Acts on the modal dialog once it is up; gives up after a bounded number of tries.
void WhenModal(std::function<void(QWidget*)> act, int triesLeft = 200) {
  QTimer::singleShot(10, [act, triesLeft] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      act(modal);
    } else if (triesLeft > 0) {
      WhenModal(act, triesLeft - 1);
    }
  });
}

TEST(DialogService, QtFileDialogIsNotNativeOpensInTheFolderAndReturnsTheChosenPath) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QFile file(dir.filePath("chosen.bin"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();

  qv::ui::FileDialogRequest request;
  request.title = "Open";
  request.nameFilters = qv::ui::QtNameFilters(kConsoleFilter);
  request.initialFolder = dir.path();
  request.fileMustExist = true;
  bool sawDialog = false;
  WhenModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (dialog == nullptr) return;
    sawDialog = true;
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir(dir.path()).canonicalPath());
    EXPECT_EQ(dialog->windowTitle(), "Open");
    dialog->selectFile(dir.filePath("chosen.bin"));
    static_cast<QDialog*>(dialog)->accept();
  });
  qv::ui::QtDialogs qt;
  const qv::ui::FileDialogResult result = qt.RunFileDialog(request);
  ASSERT_TRUE(sawDialog);
  EXPECT_TRUE(result.accepted);
  EXPECT_EQ(QFileInfo(result.path).canonicalFilePath(),
            QFileInfo(dir.filePath("chosen.bin")).canonicalFilePath());
}

TEST(DialogService, QtFontDialogStartsFromTheCurrentFontAndCancelKeepsNothing) {
  qv::ui::FontDialogRequest request;
  request.title = "Log font";
  request.current = QFont("Monospace", 11);
  bool sawDialog = false;
  WhenModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFontDialog*>(modal);
    if (dialog == nullptr) return;
    sawDialog = true;
    EXPECT_EQ(dialog->windowTitle(), "Log font");
    EXPECT_EQ(dialog->currentFont().pointSize(), 11);
    dialog->reject();
  });
  qv::ui::QtDialogs qt;
  EXPECT_FALSE(qt.RunFontDialog(request).accepted);
  EXPECT_TRUE(sawDialog);
}

}  // namespace
