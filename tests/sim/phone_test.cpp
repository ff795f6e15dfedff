#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/object_frame.h"
#include "sim/phone.h"
#include "tests/sim/fake_line_end.h"

namespace {

using qv::sim::BuildObjectFrame;
using qv::sim::testing::FakeLineEnd;

// A phone on an opened port with DTR and RTS raised, as the host leaves them after opening.
class PhoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    phone_->Attach(&line_);
    phone_->OnHostOpen(true);
    phone_->OnHostLines(true, true);
  }
  void TearDown() override { phone_->Attach(nullptr); }

  // Sends text and returns what the phone answered.
  std::string Send(const std::string& text) {
    return Bytes(std::vector<std::uint8_t>(text.begin(), text.end()));
  }
  std::string Bytes(const std::vector<std::uint8_t>& bytes) {
    phone_->OnHostBytes(bytes.data(), bytes.size());
    return line_.Take();
  }
  void Quiet() { ASSERT_EQ(Send("ATE0\r"), "ATE0\r\r\nOK\r\n"); }

  FakeLineEnd line_;
  std::unique_ptr<qv::sim::Device> phone_ = qv::sim::MakePhone();
};

TEST_F(PhoneTest, EchoesAndAnswersOk) {
  EXPECT_EQ(Send("AT\r"), "AT\r\r\nOK\r\n");
  // The LF of a CR LF line end is neither echoed nor a command.
  EXPECT_EQ(Send("at\r\n"), "at\r\r\nOK\r\n");
  // Echo is per character, as the characters arrive.
  EXPECT_EQ(Send("A"), "A");
  EXPECT_EQ(Send("T"), "T");
  EXPECT_EQ(Send("\r"), "\r\r\nOK\r\n");
  EXPECT_EQ(Send("\r"), "\r");  // an empty line gets no answer
  // Backspace edits the line being typed.
  EXPECT_EQ(Send("ATX\bE1\r"), "ATX\bE1\r\r\nOK\r\n");
}

TEST_F(PhoneTest, EchoOffAndNumericResults) {
  Quiet();
  EXPECT_EQ(Send("AT\r"), "\r\nOK\r\n");
  EXPECT_EQ(Send("ATV0\r"), "0\r");
  EXPECT_EQ(Send("AT\r"), "0\r");
  EXPECT_EQ(Send("ATFOO\r"), "4\r");
  EXPECT_EQ(Send("AT+CMEE?\r"), "+CMEE: 0\r\n0\r");
  EXPECT_EQ(Send("ATV1E1\r"), "\r\nOK\r\n");  // echo turned on after the line arrived
  EXPECT_EQ(Send("AT\r"), "AT\r\r\nOK\r\n");
  EXPECT_EQ(Send("ATQ1\r"), "ATQ1\r");
  EXPECT_EQ(Send("ATZ\r"), "ATZ\r\r\nOK\r\n");  // Z restores the defaults
}

TEST_F(PhoneTest, SeveralCommandsInOneLine) {
  EXPECT_EQ(Send("ATE1V1&K3+CMEE=1\r"), "ATE1V1&K3+CMEE=1\r\r\nOK\r\n");
  Quiet();
  EXPECT_EQ(Send("AT+CMEE?\r"), "\r\n+CMEE: 1\r\n\r\nOK\r\n");
  EXPECT_EQ(Send("at e0 v1 +cmee=0;+cmee?\r"), "\r\n+CMEE: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(Send("AT+CSCS=\"GSM\";+KPSL=\"SOUNDS\",1\r"), "\r\nOK\r\n");
  EXPECT_EQ(Send("AT+CKPD=\"123;#\"\r"), "\r\nOK\r\n");
  EXPECT_EQ(Send("AT+CGMI;+CGMM\r"), "\r\nQUELM\r\n\r\nQUELM Virtual Phone\r\n\r\nOK\r\n");
}

TEST_F(PhoneTest, MalformedOrUnknownCommandsGiveError) {
  Quiet();
  for (const char* line : {"ATX\r", "AT+FOO\r", "AT+CMEE=1+CMEE=0\r", "ATE2\r", "AT&K2\r",
                           "AT+CKPD=\"12\r", "AT+CMEE=\"1\"\r", "HELLO\r", "AT+KPSW=\"WAV\",size\r",
                           "AT+KDOBJ=3\r", "AT+CSCS=\"KLINGON\"\r"}) {
    EXPECT_EQ(Send(line), "\r\nERROR\r\n") << line;
  }
  // A failed line stops at the failing command; the phone still answers the next line.
  EXPECT_EQ(Send("AT+CMEE=2X+CMEE=1\r"), "\r\nERROR\r\n");
  EXPECT_EQ(Send("AT+CMEE?\r"), "\r\n+CMEE: 0\r\n\r\nOK\r\n");
  // An overlong line is refused as a whole.
  EXPECT_EQ(Send("AT" + std::string(5000, 'E') + "\r"), "\r\nERROR\r\n");
  EXPECT_EQ(Send("AT\r"), "\r\nOK\r\n");
}

TEST_F(PhoneTest, ObjectWriteChecksTheFrame) {
  const std::vector<std::uint8_t> content = {'R', 'I', 'F', 'F', 0, 1, 2, 3, '\r', '\n'};
  const auto frame = BuildObjectFrame("ring", 1, content);
  ASSERT_EQ(frame.size(), 24u + 8 + content.size());
  const std::string command = "AT+KPSW=\"WAV\"," + std::to_string(frame.size()) + "\r\n";

  // The command line is echoed, the object's bytes are not; the answer comes after the last byte.
  EXPECT_EQ(Send(command), command.substr(0, command.size() - 1));
  EXPECT_EQ(Bytes(std::vector<std::uint8_t>(frame.begin(), frame.end() - 1)), "");
  EXPECT_EQ(Bytes({frame.back()}), "\r\nOK\r\n");
  EXPECT_EQ(Send("AT\r"), "AT\r\r\nOK\r\n");

  // Sent in one piece right behind a bare CR, with the next command in the same write.
  std::vector<std::uint8_t> all(command.begin(), command.end() - 1);
  all.insert(all.end(), frame.begin(), frame.end());
  all.insert(all.end(), {'A', 'T', '\r'});
  EXPECT_EQ(Bytes(all), command.substr(0, command.size() - 1) + "\r\nOK\r\nAT\r\r\nOK\r\n");

  // Empty title and empty content still make a frame.
  Quiet();
  EXPECT_EQ(Send("AT+KPSW=\"WAV\",24\r"), "");
  EXPECT_EQ(Bytes(BuildObjectFrame("", 0, {})), "\r\nOK\r\n");
}

TEST_F(PhoneTest, CorruptedFramesGiveError) {
  Quiet();
  const auto good = BuildObjectFrame("song", 3, std::vector<std::uint8_t>(100, 0x55));
  const std::string command = "AT+KPSW=\"MP3\"," + std::to_string(good.size()) + "\r\n";
  // One corrupted byte in each field of the frame's header and trailer records; the content
  // itself carries no check.
  for (std::size_t offset : {0u, 3u, 4u, 6u, 8u, 11u, 12u, 15u, 26u, 27u, 28u, 31u}) {
    auto bad = good;
    bad[offset] ^= 0x40;
    ASSERT_EQ(Send(command), "");
    EXPECT_EQ(Bytes(bad), "\r\nERROR\r\n") << "offset " << offset;
  }
  // A frame shorter than announced keeps the phone waiting; the missing byte decides.
  ASSERT_EQ(Send(command), "");
  EXPECT_EQ(Bytes(std::vector<std::uint8_t>(good.begin(), good.end() - 1)), "");
  EXPECT_EQ(Bytes({0x55}), "\r\nOK\r\n");
  // Announcing one byte more than the frame holds: the frame no longer adds up.
  ASSERT_EQ(Send("AT+KPSW=\"MP3\"," + std::to_string(good.size() + 1) + "\r"), "");
  auto longer = good;
  longer.push_back(0);
  EXPECT_EQ(Bytes(longer), "\r\nERROR\r\n");
  // An announced size too small for any frame.
  ASSERT_EQ(Send("AT+KPSW=\"MP3\",3\r"), "");
  EXPECT_EQ(Bytes({1, 2, 3}), "\r\nERROR\r\n");
  EXPECT_EQ(Send("AT+KPSW=\"MP3\",0\r"), "\r\nERROR\r\n");
  EXPECT_EQ(Send("AT\r"), "\r\nOK\r\n");
}

TEST_F(PhoneTest, RawCategoriesAndObjectData) {
  Quiet();
  const std::string vcard = "BEGIN:VCARD\r\nEND:VCARD\r\n";
  ASSERT_EQ(Send("AT+KPSL=\"VCARDS\",1\r"), "\r\nOK\r\n");
  ASSERT_EQ(Send("AT+KPSW=\"VCRD\"," + std::to_string(vcard.size()) + "\r\n"), "");
  EXPECT_EQ(Send(vcard), "\r\nOK\r\n");
  // Only the exact category names are raw.
  ASSERT_EQ(Send("AT+KPSL=\"VEVENT\",1\r"), "\r\nOK\r\n");
  ASSERT_EQ(Send("AT+KPSW=\"VCAL\"," + std::to_string(vcard.size()) + "\r\n"), "");
  EXPECT_EQ(Send(vcard), "\r\nERROR\r\n");

  // The object session: a title of 8 bytes, then data, read without echo.
  Send("ATE1\r");
  EXPECT_EQ(Send("AT+KDOBJ?\r"), "AT+KDOBJ?\r\r\n+KDOBJ: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(Send("AT+KDOBJ=1,1\r\n"), "AT+KDOBJ=1,1\r\r\nOK\r\n");
  EXPECT_EQ(Send("AT+KDOBJ=2,1,3,0,8\r\n"), "AT+KDOBJ=2,1,3,0,8\r");
  EXPECT_EQ(Send("quor_vix"), "\r\nOK\r\n");
  EXPECT_EQ(Send("AT+KDOBJ?\r"), "AT+KDOBJ?\r\r\n+KDOBJ: 1\r\n\r\nOK\r\n");
  // A data command must end its line.
  EXPECT_EQ(Send("AT+KDOBJ=2,1,0,1,4;E1\r"), "AT+KDOBJ=2,1,0,1,4;E1\r\r\nERROR\r\n");
  EXPECT_EQ(Send("AT+KDOBJ=1,0\r"), "AT+KDOBJ=1,0\r\r\nOK\r\n");
  // Beyond the phone's memory: refused at once, nothing is swallowed.
  EXPECT_EQ(Send("AT+KPSW=\"WAV\",99999999\r"), "AT+KPSW=\"WAV\",99999999\r\r\nERROR\r\n");
}

TEST_F(PhoneTest, ModemLinesFollowTheHost) {
  EXPECT_TRUE(line_.cts());
  EXPECT_TRUE(line_.dsr());
  EXPECT_TRUE(line_.dcd());
  EXPECT_FALSE(line_.ring());
  phone_->OnHostLines(false, true);
  EXPECT_TRUE(line_.cts());
  EXPECT_FALSE(line_.dsr());
  EXPECT_FALSE(line_.dcd());
  phone_->OnHostLines(true, false);
  EXPECT_TRUE(line_.cts());
  EXPECT_TRUE(line_.dsr());
  EXPECT_TRUE(line_.dcd());
  phone_->OnHostOpen(false);
  EXPECT_FALSE(line_.cts());
  EXPECT_FALSE(line_.dsr());
  EXPECT_FALSE(line_.dcd());
}

TEST_F(PhoneTest, DroppingDtrOrClosingAbandonsAnObject) {
  Quiet();
  ASSERT_EQ(Send("AT+KPSW=\"WAV\",100\r"), "");
  EXPECT_EQ(Send("0123456789"), "");
  phone_->OnHostLines(false, true);
  phone_->OnHostLines(true, true);
  EXPECT_EQ(Send("AT\r"), "\r\nOK\r\n");

  ASSERT_EQ(Send("AT+KPSW=\"WAV\",100\r"), "");
  EXPECT_EQ(Send("0123456789"), "");
  phone_->OnHostOpen(false);
  phone_->OnHostOpen(true);
  // A new connection starts with an empty line; settings stay as the last user left them.
  EXPECT_EQ(Send("AT\r"), "\r\nOK\r\n");
}

TEST_F(PhoneTest, DescribesItselfAsAModem) {
  const auto d = phone_->Describe();
  EXPECT_EQ(d.providerSubType, 6u);
  EXPECT_EQ(d.manufacturer, "QUELM");
  EXPECT_EQ(d.model, "QUELM Virtual Phone");
  EXPECT_FALSE(d.version.empty());
  EXPECT_FALSE(d.devSpecific.empty());
}

}  // namespace
