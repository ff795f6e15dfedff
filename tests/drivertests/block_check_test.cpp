// The read thread's side of the block echo test, without windows: how a received chunk is
// compared with the block expected, what is reported, and that the read thread is never held
// for an acknowledgement nobody will give. Also what each data source gives.
#include <gtest/gtest.h>

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <future>
#include <numeric>
#include <vector>

#include "drivertests/block_echo.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "tests/drivertests/fake_test_host.h"

namespace qv::test {
namespace {

using qv::drivertests::BlockEchoShared;

class BlockCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_.resize(10 * kBlock);
    std::iota(data_.begin(), data_.end(), BYTE(7));
    shared_.blockSize = kBlock;
    shared_.expectedData = data_.data();
    shared_.dataEnd = data_.data() + data_.size();
    shared_.overlapRunning = 1;
  }
  // Hands a chunk over as the read thread does; the acknowledgement, when given, comes from the
  // "test thread" as soon as the block was signalled.
  bool Signalled() { return WaitForSingleObject(shared_.blockReceived, 0) == WAIT_OBJECT_0; }
  void Receive(const BYTE* bytes, DWORD count, bool acknowledge = true) {
    if (acknowledge) SetEvent(shared_.blockAcknowledged);
    qv::drivertests::CheckReceivedBlock(host_, shared_, bytes, count);
  }

  static constexpr DWORD kBlock = 256;
  FakeTestHost host_;
  BlockEchoShared shared_;
  std::vector<BYTE> data_;
};

TEST_F(BlockCheckTest, GoodBlocksAdvanceByTheBlockSizeAndAreSignalled) {
  Receive(data_.data(), kBlock);
  EXPECT_TRUE(Signalled());
  EXPECT_EQ(shared_.expectedData.Load(), data_.data() + kBlock);
  Receive(data_.data() + kBlock, kBlock);
  EXPECT_TRUE(Signalled());
  EXPECT_TRUE(host_.Boxes().empty());

  // Idle: nothing is compared or signalled.
  shared_.overlapRunning = 0;
  Receive(data_.data(), 3);
  EXPECT_FALSE(Signalled());
  EXPECT_TRUE(host_.Boxes().empty());
}

TEST_F(BlockCheckTest, AShortChunkIsReportedComparedOverItsOwnLengthAndStillAdvancesAWholeBlock) {
  Receive(data_.data(), 100);
  EXPECT_EQ(host_.Boxes(),
            std::vector<std::string>{"Received block is 100 bytes long instead of 256 !"});
  EXPECT_TRUE(Signalled());
  EXPECT_EQ(shared_.expectedData.Load(), data_.data() + kBlock);
}

TEST_F(BlockCheckTest, TheFirstDifferenceIsReportedOnceAndLaterChunksAreLeftAlone) {
  std::vector<BYTE> block(data_.begin(), data_.begin() + kBlock);
  block[100] ^= 0x5A;
  block[200] ^= 0x5A;
  Receive(block.data(), kBlock, /*acknowledge=*/false);
  EXPECT_EQ(host_.Boxes(), std::vector<std::string>{"Difference found in block at offset 100 !"});
  EXPECT_FALSE(Signalled());  // the test thread ends with its time-out
  EXPECT_EQ(shared_.expectedData.Load(), data_.data());

  // The block already in flight behind it is not compared against the wrong block.
  Receive(data_.data() + kBlock, kBlock, false);
  EXPECT_EQ(host_.Boxes().size(), 1u);
  EXPECT_FALSE(Signalled());
}

TEST_F(BlockCheckTest, BytesBeyondTheRunsDataAreADifferenceNotAReadPastIt) {
  shared_.expectedData = data_.data() + 9 * kBlock;  // the last block
  std::vector<BYTE> longer(data_.end() - kBlock, data_.end());
  longer.resize(kBlock + 10, 0);
  Receive(longer.data(), DWORD(longer.size()), false);
  const auto boxes = host_.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0], "Received block is 266 bytes long instead of 256 !");
  EXPECT_EQ(boxes[1], "Difference found in block at offset 256 !");

  // A chunk when the whole cycle was already matched: its first byte differs.
  host_.ClearBoxes();
  shared_.differenceFound = 0;
  shared_.expectedData = shared_.dataEnd;
  Receive(data_.data(), kBlock, false);
  EXPECT_EQ(host_.Boxes(), std::vector<std::string>{"Difference found in block at offset 0 !"});
}

TEST_F(BlockCheckTest, TheReadThreadIsReleasedWhenNobodyWaitsForTheBlockAnyMore) {
  // A good block while the test thread has stopped waiting: no acknowledgement will come.
  auto reading = std::async(std::launch::async, [&] {
    qv::drivertests::CheckReceivedBlock(host_, shared_, data_.data(), kBlock);
  });
  ASSERT_EQ(WaitForSingleObject(shared_.blockReceived, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(reading.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  shared_.echoAbandoned = 1;  // the port closed, or the test ended
  EXPECT_EQ(reading.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

TEST(BlockEchoDataTest, SourcesGiveExactlyTheirBytesAndShortOnesAreRefused) {
  std::string error;
  const std::size_t size = 10 * 4096;
  EXPECT_EQ(qv::drivertests::BlockEchoData("Random", size, &error).size(), size);

  // The program's image from its first byte: the executable's header.
  const std::vector<BYTE> image = qv::drivertests::BlockEchoData("quor_vix.exe", size, &error);
  ASSERT_EQ(image.size(), size) << error;
  EXPECT_EQ(std::string(image.begin(), image.begin() + 4),
            "\x7f"
            "ELF");

  char path[] = "/tmp/qv-echo-source-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  std::vector<BYTE> content(size + 5);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = BYTE(i * 31 + 3);
  ASSERT_EQ(::write(fd, content.data(), content.size()), ssize_t(content.size()));
  ::close(fd);
  const std::vector<BYTE> fromFile = qv::drivertests::BlockEchoData(path, size, &error);
  EXPECT_EQ(fromFile, std::vector<BYTE>(content.begin(), content.begin() + size));

  // A file shorter than ten blocks: refused, with the numbers, rather than padded.
  error.clear();
  EXPECT_TRUE(qv::drivertests::BlockEchoData(path, size + 6, &error).empty());
  EXPECT_NE(error.find("gives 40965 bytes, the test needs 40966"), std::string::npos) << error;
  std::remove(path);
  EXPECT_TRUE(qv::drivertests::BlockEchoData(path, size, &error).empty());
  EXPECT_NE(error.find("Cannot open the data file"), std::string::npos) << error;
}

}  // namespace
}  // namespace qv::test
