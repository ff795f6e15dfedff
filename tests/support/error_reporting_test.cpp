// The unexpected-error box: caption and text, Retry/Ignore/Abort, checked calls, telephony texts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/sync/last_error.h"
#include "platform/sync/library.h"
#include "platform/ui/message_box.h"
#include "platform/ui/qt/qt_ui.h"
#include "support/reporting/checked_call.h"
#include "support/reporting/error_reporting.h"
#include "tests/common/scripted_boxes.h"

namespace {

const std::string kTail =
    "\n\nPlease contact the author with this information\n(Press Ctrl-C to copy this text)";

std::string ExecutableBaseName() {
  return std::filesystem::read_symlink("/proc/self/exe").filename().string();
}

std::string ExpectedText(const std::string& reason, const std::string& location, int line,
                         const std::string& valueLine) {
  return reason + "\nIn: " + location + " line " + std::to_string(line) +
         "\n\nValue: " + valueLine + kTail;
}

TEST(ErrorReporting, BoxShowsReasonModuleLineAndValueWithTheProgramsCaption) {
  qv::test::TestMessageBoxes boxes;
  boxes.Answer(IDIGNORE);
  EXPECT_FALSE(RetryOnErrorCode("C:\\work\\src\\ToolTests.cpp", 42, ERROR_FILE_NOT_FOUND));
  boxes.Answer(IDIGNORE);
  EXPECT_FALSE(ReportUnexpectedError("src/engine/Comm", -3, "Reason text", -1));

  const auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].caption, ExecutableBaseName() + " - Unexpected error");
  EXPECT_EQ(shown[0].flags, 0x12012u);
  // The system text ends in its own line break: one more empty line after the reason.
  EXPECT_EQ(shown[0].text, ExpectedText("The system cannot find the file specified.\r\n",
                                        "ToolTests.cpp", 42, "2 (0x2)"));
  EXPECT_EQ(shown[1].text, ExpectedText("Reason text", "Comm", -3, "-1 (0xFFFFFFFF)"));
}

TEST(ErrorReporting, NullSourceAndNullReasonHaveTheirStandInTexts) {
  qv::test::TestMessageBoxes boxes;
  boxes.Answer(IDIGNORE);
  boxes.Answer(IDIGNORE);
  EXPECT_FALSE(ReportUnexpectedError(nullptr, 7, "Why", 5));
  EXPECT_FALSE(ReportUnexpectedError("quor_vixDlg", 8, nullptr, 0));
  const auto texts = boxes.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], ExpectedText("Why", "source", 7, "5 (0x5)"));
  EXPECT_EQ(texts[1],
            ExpectedText("An unexpected error has occured !", "quor_vixDlg", 8, "0 (0x0)"));
}

TEST(ErrorReporting, CodeWithoutSystemTextShowsAsEightHexDigits) {
  qv::test::TestMessageBoxes boxes;
  boxes.Answer(IDIGNORE);
  boxes.Answer(IDIGNORE);
  // Bit 29: an application-defined code.
  EXPECT_FALSE(RetryOnErrorCode("ToolStates", 10, 0x2000ABCDu));
  SetLastError(0x20000001u);
  EXPECT_FALSE(RetryOnLastError("ToolStates", 11));
  const auto texts = boxes.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], ExpectedText("0x2000ABCD", "ToolStates", 10, "536914893 (0x2000ABCD)"));
  EXPECT_EQ(texts[1], ExpectedText("0x20000001", "ToolStates", 11, "536870913 (0x20000001)"));
}

TEST(ErrorReporting, IgnoreKeepsTheLastErrorOfTheFailureAndErrorCodeLeavesItAlone) {
  qv::test::TestMessageBoxes boxes;
  boxes.Answer(IDIGNORE);
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_FALSE(RetryOnLastError("ToolTests", 1));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(boxes.Texts()[0].rfind(qv::sync::SystemErrorText(ERROR_ACCESS_DENIED), 0), 0u);

  boxes.Answer(IDIGNORE);
  SetLastError(ERROR_BUSY);
  EXPECT_FALSE(RetryOnErrorCode("ToolTests", 2, ERROR_INVALID_PARAMETER));
  EXPECT_EQ(GetLastError(), ERROR_BUSY);
}

TEST(ErrorReporting, RetryRepeatsTheCheckedCallUntilItSucceeds) {
  qv::test::TestMessageBoxes boxes;
  for (int i = 0; i < 5; ++i) boxes.Answer(IDRETRY);
  int calls = 0;
  const int line = __LINE__ + 1;
  const BOOL result = qv::support::CheckLastError("ToolTests", [&]() -> BOOL {
    ++calls;
    if (calls <= 5) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return FALSE;
    }
    return TRUE;
  });
  EXPECT_EQ(result, TRUE);
  EXPECT_EQ(calls, 6);
  const auto texts = boxes.Texts();
  ASSERT_EQ(texts.size(), 5u);
  for (const auto& text : texts)
    EXPECT_NE(text.find("\nIn: ToolTests line " + std::to_string(line) + "\n"), std::string::npos)
        << text;
}

TEST(ErrorReporting, IgnoreHandsTheFailedResultBackForEveryKindOfCheckedCall) {
  qv::test::TestMessageBoxes boxes;
  boxes.Answer(IDRETRY);
  boxes.Answer(IDIGNORE);
  int calls = 0;
  const HANDLE handle = qv::support::CheckLastError("quor_vixDlg", [&] {
    ++calls;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  });
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  boxes.Answer(IDRETRY);
  boxes.Answer(IDIGNORE);
  calls = 0;
  const LONG code = qv::support::CheckErrorCode("quor_vixDlg", [&]() -> LONG {
    ++calls;
    return static_cast<LONG>(ERROR_MORE_DATA);
  });
  EXPECT_EQ(code, static_cast<LONG>(ERROR_MORE_DATA));
  EXPECT_EQ(calls, 2);

  boxes.Answer(IDIGNORE);
  calls = 0;
  const LONG tapi = qv::support::CheckTapiResult("quor_vixDlg", [&]() -> LONG {
    ++calls;
    return static_cast<LONG>(0x80000002u);
  });
  EXPECT_EQ(tapi, static_cast<LONG>(0x80000002u));
  EXPECT_EQ(calls, 1);

  // A call that succeeds at once asks nothing.
  EXPECT_EQ(qv::support::CheckErrorCode("quor_vixDlg", [] { return 0L; }), 0L);
  EXPECT_EQ(boxes.Count(), 5u);
  // A box that cannot be shown (answer 0) counts as Ignore.
  qv::ui::ScriptedMessageBoxes silent;
  silent.Answer(0);
  EXPECT_FALSE(ReportUnexpectedError("Comm", 1, "x", 1));
}

TEST(ErrorReportingDeathTest, AbortEndsTheProcessWithExitCodeMinusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        qv::ui::ScriptedMessageBoxes boxes;
        boxes.Answer(IDABORT);
        int calls = 0;
        qv::support::CheckLastError("ToolTests", [&]() -> BOOL {
          ++calls;
          SetLastError(ERROR_GEN_FAILURE);
          return FALSE;
        });
        // Never reached: the caller's loop does not resume after Abort.
        std::fprintf(stderr, "resumed after %d calls\n", calls);
        std::exit(0);
      },
      ::testing::ExitedWithCode(255), ::testing::Not(::testing::HasSubstr("resumed")));
}

std::string TapiReason(LONG result, std::string* valueLine = nullptr) {
  qv::test::TestMessageBoxes boxes;
  boxes.Answer(IDIGNORE);
  EXPECT_FALSE(RetryOnTapiError("quor_vixDlg", 99, result));
  const auto texts = boxes.Texts();
  if (texts.size() != 1) return "<no box>";
  const std::string& text = texts[0];
  const auto in = text.find("\nIn: quor_vixDlg line 99\n");
  if (valueLine) {
    const auto v = text.find("\nValue: ");
    *valueLine = text.substr(v + 8, text.find('\n', v + 1) - v - 8);
  }
  return text.substr(0, in);
}

std::string LibraryText(DWORD messageId) {
  HMODULE library = LoadLibraryA("TAPIUI.DLL");
  if (library == nullptr) return "<no library>";
  auto lookup = reinterpret_cast<std::uint32_t (*)(std::uint32_t, char*, std::uint32_t)>(
      GetProcAddress(library, "TapiUiFormatMessage"));
  char text[256] = {};
  const bool found = lookup != nullptr && lookup(messageId, text, sizeof text) != 0;
  FreeLibrary(library);
  return found ? text : "<none>";
}

TEST(ErrorReporting, TelephonyResultsAreLookedUpUnderTheirMessageNumbers) {
  // The library lies beside the executable.
  ASSERT_NE(LibraryText(0xE048), "<no library>");
  EXPECT_EQ(TapiReason(-1), "TAPI Error: " + LibraryText(0xFFFF));
  EXPECT_EQ(TapiReason(static_cast<LONG>(0x80000048u)), "TAPI Error: " + LibraryText(0xE048));
  EXPECT_EQ(TapiReason(static_cast<LONG>(0x80000001u)), "TAPI Error: " + LibraryText(0xE001));
  EXPECT_EQ(TapiReason(static_cast<LONG>(0x90000001u)), "TAPI Error: " + LibraryText(0xF001));
  // Each of these numbers has its own text, so the reasons above prove the lookups.
  EXPECT_NE(LibraryText(0xE048), LibraryText(0xE001));
  EXPECT_NE(LibraryText(0xFFFF), LibraryText(0xF001));
  EXPECT_EQ(LibraryText(0xE048).substr(LibraryText(0xE048).size() - 2), "\r\n");

  std::string value;
  EXPECT_EQ(TapiReason(static_cast<LONG>(0x80000002u), &value),
            "TAPI Error: " + LibraryText(0xE002));
  EXPECT_EQ(value, "-2147483646 (0x80000002)");
  // A number the table does not hold leaves the reason alone; the value is still shown.
  EXPECT_EQ(LibraryText(0xFFFE), "<none>");
  EXPECT_EQ(TapiReason(-2, &value), "TAPI Error");
  EXPECT_EQ(value, "-2 (0xFFFFFFFE)");
}

// Runs only inside the renamed copy that the next test starts.
TEST(ErrorReportingInRenamedCopy, CaptionAndMissingTelephonyTexts) {
  if (std::getenv("QV_ERROR_REPORTING_CHILD") == nullptr) GTEST_SKIP() << "run by its parent";
  qv::test::TestMessageBoxes boxes;
  boxes.Answer(IDIGNORE);
  EXPECT_FALSE(RetryOnTapiError("ToolKDOBJ", 5, static_cast<LONG>(0x80000048u)));
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].caption, "other_bench - Unexpected error");
  EXPECT_EQ(boxes.Texts()[0],
            ExpectedText("TAPI Error", "ToolKDOBJ", 5, "-2147483576 (0x80000048)"));
}

TEST(ErrorReporting, RenamedExecutableShowsItsOwnNameAndNoTelephonyTextsWithoutTheLibrary) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("qv_renamed_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const auto copy = folder / "other_bench.exe";
  std::filesystem::copy_file("/proc/self/exe", copy,
                             std::filesystem::copy_options::overwrite_existing);
  const auto log = folder / "child.log";

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::setenv("QV_ERROR_REPORTING_CHILD", "1", 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string out = log.string();
    std::FILE* f = std::freopen(out.c_str(), "w", stdout);
    (void)f;
    ::dup2(STDOUT_FILENO, STDERR_FILENO);
    const std::string exe = copy.string();
    ::execl(exe.c_str(), exe.c_str(), "--gtest_filter=ErrorReportingInRenamedCopy.*",
            static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  int status = 0;
  pid_t done = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while ((done = ::waitpid(child, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (done == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    ADD_FAILURE() << "renamed copy did not finish";
  }
  std::stringstream output;
  output << std::ifstream(log).rdbuf();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output.str();
  EXPECT_NE(output.str().find("[  PASSED  ] 1 test"), std::string::npos) << output.str();
  std::filesystem::remove_all(folder);
}

// Records the owner window each box was given.
class OwnerRecorder : public qv::ui::MessageBoxProvider {
 public:
  OwnerRecorder() : previous_(qv::ui::CurrentMessageBoxProvider()) {
    qv::ui::SetMessageBoxProvider(this);
  }
  ~OwnerRecorder() override { qv::ui::SetMessageBoxProvider(previous_); }
  int Show(HWND owner, const std::string&, const std::string&, UINT) override {
    owners.push_back(owner);
    return IDIGNORE;
  }
  std::vector<HWND> owners;

 private:
  qv::ui::MessageBoxProvider* previous_;
};

TEST(ErrorReporting, BoxIsOwnedByTheCallingThreadsVisibleTopLevelWindowOnly) {
  OwnerRecorder recorder;
  QWidget hidden;
  QWidget window;
  window.show();
  QWidget ownedTool(&window, Qt::Tool);
  ownedTool.show();
  ReportUnexpectedError("Comm", 1, "ui thread", 1);
  std::thread worker([] { ReportUnexpectedError("Comm", 2, "worker thread", 2); });
  worker.join();
  ASSERT_EQ(recorder.owners.size(), 2u);
  EXPECT_EQ(recorder.owners[0], qv::ui::ToHwnd(&window));
  EXPECT_EQ(recorder.owners[1], nullptr);
}

}  // namespace
