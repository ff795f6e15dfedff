// File sends: the object frame byte for byte and request by request, the raw file, files that
// cannot be sent, and the frame as the far end of a line and the virtual phone see it.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "console/send_file.h"
#include "sim/object_frame.h"
#include "tests/console/send_fixture.h"

using qv::console::ObjectSendValues;
using qv::console::SendFramedObject;
using qv::console::SendWholeFile;
using qv::test::Bytes;
using qv::test::CapturedRequests;
using qv::test::Concat;
using qv::test::SendTest;
using qv::test::WriteBytes;

namespace {

const ObjectSendValues kWav{"SOUNDS", "1"};

Bytes Sizes(const std::vector<Bytes>& requests) {
  Bytes sizes;
  for (const Bytes& r : requests) sizes.push_back(BYTE(r.size()));
  return sizes;
}

}  // namespace

TEST(ObjectFrameFields, TitleFromTheNameAfterEitherSeparatorAndFormatAsAtoiReadsIt) {
  using qv::console::ObjectFormatNumber;
  using qv::console::ObjectTitle;
  EXPECT_EQ(ObjectTitle("/home/u/ring.d/song.remix.wav"), "song");
  EXPECT_EQ(ObjectTitle("C:\\snd\\ring.tone.wav"), "ring");
  EXPECT_EQ(ObjectTitle("a\\b/c.d\\tune.mid"), "tune");
  EXPECT_EQ(ObjectTitle("/folder.with.dots/README"), "") << "no dot in the name itself";
  EXPECT_EQ(ObjectTitle("song.wav"), "song");
  EXPECT_EQ(ObjectTitle("/tmp/.hidden"), "");
  EXPECT_EQ(ObjectTitle("/tmp/dir/"), "");

  EXPECT_EQ(ObjectFormatNumber("1"), 1);
  EXPECT_EQ(ObjectFormatNumber("3     = VRD_MP3_FORMAT          /* MP3 */"), 3);
  EXPECT_EQ(ObjectFormatNumber("  \t200x"), 200);
  EXPECT_EQ(ObjectFormatNumber("/* formats image */"), 0);
  EXPECT_EQ(ObjectFormatNumber(""), 0);
  EXPECT_EQ(ObjectFormatNumber("70000"), 70000 & 0xFFFF) << "cut to 16 bits";
  EXPECT_EQ(ObjectFormatNumber("-1"), 0xFFFF);
  EXPECT_EQ(ObjectFormatNumber("99999999999999999999"), 0xFFFF) << "overflow as glibc's atoi";

  EXPECT_TRUE(qv::console::IsRawObjectCategory("VCARDS"));
  EXPECT_TRUE(qv::console::IsRawObjectCategory("VEVENTS"));
  EXPECT_TRUE(qv::console::IsRawObjectCategory("VTODO"));
  EXPECT_FALSE(qv::console::IsRawObjectCategory("vcards"));
  EXPECT_FALSE(qv::console::IsRawObjectCategory("VEVENT")) << "the list's row is not one of them";
}

TEST_F(SendTest, SongRemixWavGoesOutAsTheFrameInFiveRequests) {
  const Bytes content = qv::test::Pattern(300, 7);
  std::filesystem::create_directories("ring.d");
  WriteBytes("ring.d/song.remix.wav", content);
  CapturedRequests capture;
  SendFramedObject("ring.d/song.remix.wav", {"SOUNDS", "104 = VRD_JPEG_FORMAT"}, nullptr);
  const std::vector<Bytes> requests = capture.Take();

  ASSERT_EQ(requests.size(), 5u);
  // 28 + S = 328 = 0x148 bytes follow the first field.
  EXPECT_EQ(requests[0], (Bytes{0x48, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}));
  EXPECT_EQ(requests[1], (Bytes{0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00}));
  EXPECT_EQ(requests[2], (Bytes{'s', 0, 'o', 0, 'n', 0, 'g', 0}));
  // Format 104, then 1, then S = 300 = 0x12C.
  EXPECT_EQ(requests[3], (Bytes{0x68, 0x00, 0x01, 0x00, 0x2C, 0x01, 0x00, 0x00}));
  EXPECT_EQ(requests[4], content);

  // The phone's own reading of the frame agrees.
  const Bytes frame = Concat(requests);
  EXPECT_EQ(frame.size(), 24u + 8 + 300);
  const auto info = qv::sim::CheckObjectFrame(frame.data(), frame.size());
  EXPECT_EQ(info.fault, qv::sim::FrameFault::kNone) << qv::sim::FrameFaultName(info.fault);
  EXPECT_EQ(info.title, u"song");
  EXPECT_EQ(info.format, 104);
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(SendTest, ANameWithoutADotHasAnEmptyTitleAndAZeroByteTitleRequest) {
  WriteBytes("README", Bytes{'a', 'b', 'c', 'd', 'e'});
  CapturedRequests capture;
  SendFramedObject("README", kWav, nullptr);
  const std::vector<Bytes> requests = capture.Take();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(Sizes(requests), (Bytes{8, 8, 0, 8, 5}));
  // 20 + S = 25.
  EXPECT_EQ(Concat(requests), (Bytes{25,  0,   0,   0,   1,  0, 1, 0,  // length, version
                                     0,   0,   0,   0,   0,  0, 0, 0,  // title record: 0 bytes
                                     1,   0,   1,   0,   5,  0, 0, 0,  // format 1, 5 bytes
                                     'a', 'b', 'c', 'd', 'e'}));
}

TEST_F(SendTest, AnEmptyFileIsAZeroByteRequestOrAFrameAnnouncingNoContent) {
  WriteBytes("empty.wav", {});
  {
    CapturedRequests capture;
    SendWholeFile("empty.wav", nullptr);
    const std::vector<Bytes> requests = capture.Take();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].empty());
  }
  CapturedRequests capture;
  SendFramedObject("empty.wav", kWav, nullptr);
  const std::vector<Bytes> requests = capture.Take();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(Sizes(requests), (Bytes{8, 8, 10, 8, 0}));
  EXPECT_EQ(requests[0], (Bytes{30, 0, 0, 0, 1, 0, 1, 0}));
  EXPECT_EQ(requests[3], (Bytes{1, 0, 1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(SendTest, FilesThatCannotBeReadInFullAreReportedAndNothingIsSent) {
  CapturedRequests capture;
  boxes.Answer(IDOK);
  SendWholeFile("missing.wav", nullptr);
  std::filesystem::create_directories("folder.wav");
  boxes.Answer(IDOK);
  SendFramedObject("folder.wav", kWav, nullptr);
  // A system file that reports more bytes than it holds behaves like a file that shrank between
  // its size and its reading.
  const char* shrinking = "/sys/devices/system/cpu/online";
  std::uint64_t reported = std::filesystem::file_size(shrinking);
  ASSERT_GT(reported, 10u) << "this check needs a file whose size exceeds its content";
  boxes.Answer(IDOK);
  SendWholeFile(shrinking, nullptr);
  boxes.Answer(IDOK);
  SendFramedObject(shrinking, kWav, nullptr);

  EXPECT_TRUE(capture.Take().empty());
  const auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 4u);
  const char* expected[] = {"Unable to open file", "Unable to open file", "Unable to read file",
                            "Unable to read file"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(shown[i].text, expected[i]);
    EXPECT_EQ(shown[i].caption, "quor_vix");
    EXPECT_EQ(shown[i].flags, MB_OK | MB_ICONERROR);
  }
}

TEST_F(SendTest, AFileBeyondWhatOneRequestCountsIsRefusedBeforeItIsRead) {
  // A sparse file of 4 GiB + 1 bytes: its size alone must stop the send.
  { std::ofstream("huge.bin"); }
  std::filesystem::resize_file("huge.bin", 0x100000001ull);
  CapturedRequests capture;
  boxes.Answer(IDOK);
  SendWholeFile("huge.bin", nullptr);
  // Exactly 4 GiB - 1 fits a request's count, but not with the frame around it.
  std::filesystem::resize_file("huge.bin", 0xFFFFFFFFull - 23);
  boxes.Answer(IDOK);
  SendFramedObject("huge.bin", kWav, nullptr);
  EXPECT_TRUE(capture.Take().empty());
  const auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "File too large to send: 4294967297 bytes (one send holds at most " +
                               std::to_string(std::min<std::uint64_t>(
                                   0xFFFFFFFFull, qv::console::SendSizeLimit())) +
                               " bytes)");
  EXPECT_EQ(shown[0].caption, "quor_vix");
  EXPECT_EQ(shown[0].flags, MB_OK | MB_ICONERROR);
  EXPECT_EQ(shown[1].text.rfind("File too large to send: 4294967272 bytes", 0), 0u)
      << shown[1].text;
}

TEST(SendSizeLimit, IsHalfTheMemoryTheProcessMayUse) {
  EXPECT_LE(qv::console::SendSizeLimit(), 0xFFFFFFFFull);
  // In a child, so that the lowered limit touches no other test.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    struct rlimit r;
    ::getrlimit(RLIMIT_DATA, &r);
    r.rlim_cur = 512ull << 20;
    if (::setrlimit(RLIMIT_DATA, &r) != 0) ::_exit(2);
    ::_exit(qv::console::SendSizeLimit() == (256ull << 20) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(SendTest, TheFrameCrossesTheLoopBackAndIsRecordedWhole) {
  ASSERT_TRUE(Start("vloop0", 921600));
  CommConnection.LogData = 1;
  const Bytes content = qv::test::Pattern(2000, 3);
  WriteBytes("song.remix.wav", content);
  SendFramedObject((std::filesystem::current_path() / "song.remix.wav").c_str(), kWav, nullptr);
  Bytes expected{0xEC, 0x07, 0,   0, 1,   0, 1,   0, 0, 0, 0, 0, 8,    0,    0, 0,
                 's',  0,    'o', 0, 'n', 0, 'g', 0, 1, 0, 1, 0, 0xD0, 0x07, 0, 0};
  expected.insert(expected.end(), content.begin(), content.end());
  EXPECT_EQ(Received(expected.size()), expected);
  EXPECT_EQ(SentLog(expected.size()), expected);
  EXPECT_EQ(CommConnection.WriteRequested.Load(), expected.size());
}

TEST_F(SendTest, AWholeFileReachesTheFarEndOfAPtyPairUnchanged) {
  qv::test::PtyPair pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_TRUE(Start(pty.path(), 115200));
  CommConnection.LogData = 1;
  // Every byte value, line ends and NULs included, goes out as stored.
  Bytes content = qv::test::Pattern(20000, 11);
  for (int i = 0; i < 256; ++i) content[std::size_t(i)] = BYTE(i);
  WriteBytes("raw.bin", content);
  SendWholeFile("raw.bin", nullptr);
  EXPECT_EQ(pty.ReadBytes(content.size()), content);
  EXPECT_EQ(SentLog(content.size()), content);
  StopComm(0);  // before the far end goes away with the test's pair
}

TEST_F(SendTest, ThePhoneAcceptsTheFrameItsWriteCommandAnnounces) {
  ASSERT_TRUE(Start("vphone0", 115200));
  const Bytes content = qv::test::Pattern(700, 5);
  WriteBytes("ring.tone.wav", content);
  // The byte count the object panel announces: 24 + 2n + S, here n = 4 ("ring").
  const std::string command = "AT+KPSW=\"WAV\"," + std::to_string(24 + 2 * 4 + content.size());
  WriteCommLine(command.c_str());
  SendFramedObject("ring.tone.wav", kWav, nullptr);
  const std::string expected = command + "\r\r\nOK\r\n";
  ASSERT_TRUE(qv::test::WaitUntil([&] { return console.Received().size() >= expected.size(); }));
  const Bytes got = console.Received();
  EXPECT_EQ(std::string(got.begin(), got.end()), expected);
}
