// File sends of names that are not regular files: refused at once, never waiting for a writer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "console/plain_file.h"
#include "console/send_file.h"
#include "tests/console/send_fixture.h"

using qv::console::PlainFile;
using qv::test::Bytes;
using qv::test::CapturedRequests;
using qv::test::SendTest;

namespace {

struct OpenResult {
  bool opened = false;
  DWORD error = 0;
};

// Opens path on a thread of its own and waits at most two seconds. An open that is still
// blocked then is released (a writer comes to the FIFO) so that the test ends either way.
OpenResult OpenBounded(const std::string& path, bool* blocked) {
  std::promise<OpenResult> done;
  std::future<OpenResult> result = done.get_future();
  std::thread opener([&path, &done] {
    PlainFile file;
    OpenResult r;
    r.opened = file.Open(path.c_str());
    r.error = GetLastError();
    done.set_value(r);
  });
  *blocked = result.wait_for(std::chrono::seconds(2)) != std::future_status::ready;
  if (*blocked) {
    const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
  }
  opener.join();
  return result.get();
}

}  // namespace

TEST_F(SendTest, NamesThatAreNotRegularFilesAreRefusedAtOnce) {
  ASSERT_EQ(::mkfifo("pipe.wav", 0600), 0);
  std::filesystem::create_directories("folder.wav");
  for (const std::string name : {"pipe.wav", "folder.wav", "/dev/null"}) {
    SCOPED_TRACE(name);
    bool blocked = false;
    const OpenResult r = OpenBounded(name, &blocked);
    EXPECT_FALSE(blocked) << "the open waited for a writer";
    EXPECT_FALSE(r.opened);
    EXPECT_EQ(r.error, DWORD(ERROR_ACCESS_DENIED));
  }
  // A link to a regular file is that file.
  qv::test::WriteBytes("real.wav", Bytes{1, 2, 3});
  std::filesystem::create_symlink("real.wav", "link.wav");
  PlainFile file;
  ASSERT_TRUE(file.Open("link.wav"));
  std::uint64_t size = 0;
  ASSERT_TRUE(file.Size(&size));
  EXPECT_EQ(size, 3u);
}

TEST_F(SendTest, AFifoOrADeviceGetsTheOpenErrorAndNothingIsSent) {
  ASSERT_EQ(::mkfifo("pipe.wav", 0600), 0);
  bool blocked = false;
  OpenBounded("pipe.wav", &blocked);
  ASSERT_FALSE(blocked) << "the sends below would block the test's thread";

  CapturedRequests capture;
  for (int i = 0; i < 3; ++i) boxes.Answer(IDOK);
  qv::console::SendWholeFile("pipe.wav", nullptr);
  qv::console::SendFramedObject("pipe.wav", {"SOUNDS", "1"}, nullptr);
  qv::console::SendWholeFile("/dev/zero", nullptr);
  EXPECT_TRUE(capture.Take().empty());
  EXPECT_EQ(boxes.Texts(), (std::vector<std::string>(3, "Unable to open file")));
}
