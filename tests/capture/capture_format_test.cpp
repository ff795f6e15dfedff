// The capture's lines: every byte survives the round trip, and a line that is not the format's
// is refused with its reason, whatever it holds.
#include <gtest/gtest.h>

#include <string>

#include "capture/capture_format.h"
#include "capture/write_source.h"

namespace qv::test {
namespace {

using qv::capture::Event;
using qv::capture::Kind;

TEST(CaptureFormat, EveryByteAndDetailSurvivesTheRoundTrip) {
  Event event;
  event.micros = 12'000'345;
  event.kind = Kind::kTx;
  event.detail = "write\nflush\x1b";
  for (int b = 0; b < 256; ++b) event.bytes.push_back(std::uint8_t(b));
  std::string line;
  qv::capture::AppendEvent(event, &line);
  ASSERT_EQ(line.back(), '\n');
  EXPECT_EQ(line.substr(0, 24), "12.000345 TX 256 00 01 0");
  // '|' and the bytes around it stand in the character column as they are.
  EXPECT_NE(line.find("z{|}~."), std::string::npos);
  line.pop_back();
  Event back;
  std::string error;
  ASSERT_TRUE(qv::capture::ParseEvent(line, &back, &error)) << error;
  EXPECT_EQ(back.micros, event.micros);
  EXPECT_EQ(back.kind, Kind::kTx);
  EXPECT_EQ(back.bytes, event.bytes);
  EXPECT_EQ(back.detail, "write flush ");

  std::string empty;
  qv::capture::AppendEvent(Event{5, Kind::kModem, "CTS=1 DSR=0 RING=0 DCD=0", {}}, &empty);
  EXPECT_EQ(empty, "0.000005 MODEM 0 || CTS=1 DSR=0 RING=0 DCD=0\n");
}

TEST(CaptureFormat, ALineThatIsNotTheFormatsIsRefusedWithItsReason) {
  const struct {
    const char* line;
    const char* reason;
  } cases[] = {
      {"", "is not seconds with six decimals"},
      {"1.5 RX 0 ||", "is not seconds with six decimals"},
      {"x.000000 RX 0 ||", "is not seconds with six decimals"},
      {"99999999999999999999.000000 RX 0 ||", "is not seconds with six decimals"},
      {"1.000000 FOO 0 ||", "unknown event kind \"FOO\""},
      {"1.000000 RX", "is not a count"},
      {"1.000000 RX -1 ||", "is not a count"},
      {"1.000000 RX 18446744073709551616 ||", "is not a count"},
      {"1.000000 RX 70000 41", "is not a count"},
      {"1.000000 RX 3 41 42 |AB|", "too short for its 3 bytes"},
      {"1.000000 RX 2 41 4G |AB|", "byte 2 is not two hexadecimal digits"},
      {"1.000000 RX 2 41  42 |AB|", "byte 2 is not two hexadecimal digits"},
      {"1.000000 RX 2 41 42 AB||", "not 2 characters between bars"},
      {"1.000000 RX 2 41 42 |AB", "not 2 characters between bars"},
      {"1.000000 RX 2 41 42 |AC|", "differs from the bytes at byte 2"},
      {"1.000000 RX 1 41 |A|x", "text right after the character column"},
      // Printed as it is by a reader, a control character would act on its terminal.
      {"1.000000 MODEM 0 || CTS=1 RI\rNG=0", "a control character after the character column"},
      {"1.000000 OPEN 0 || \x1b[2Jvloop0", "a control character after the character column"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Event event;
    std::string error;
    EXPECT_FALSE(qv::capture::ParseEvent(c.line, &event, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST(CaptureFormat, TheHeaderNamesFormatVersionStartPortAndSettings) {
  const std::string line = qv::capture::FormatHeader(
      {1, "2026-12-09T20:51:02.125000Z", "my port", "115200 8N1\nflow=none"});
  EXPECT_EQ(line,
            "quor_vix-capture 1 start=2026-12-09T20:51:02.125000Z port=my_port "
            "settings=115200 8N1 flow=none\n");
  qv::capture::Header header;
  std::string error;
  ASSERT_TRUE(qv::capture::ParseHeader(line.substr(0, line.size() - 1), &header, &error));
  EXPECT_EQ(header.port, "my_port");
  EXPECT_EQ(header.settings, "115200 8N1 flow=none");

  const struct {
    const char* line;
    const char* reason;
  } cases[] = {
      {"hello", "not a capture"},
      {"quor_vix-capture", "no format version"},
      {"quor_vix-capture 2 start=x port=y settings=",
       "format version 2 is not one this program reads"},
      {"quor_vix-capture 1 port=y settings=", "no \"start=\" field"},
      {"quor_vix-capture 1 start=x settings=", "no \"port=\" field"},
      {"quor_vix-capture 1 start=x port=\x1b]0;y\x07 settings=", "a control character"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_FALSE(qv::capture::ParseHeader(c.line, &header, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST(WriteSource, ANameKeepsItsNumberAndBecomesOneWord) {
  const qv::capture::SourceId line = qv::capture::InternSource("line");
  EXPECT_NE(line, qv::capture::kNoSource);
  EXPECT_EQ(qv::capture::InternSource("line"), line);
  EXPECT_EQ(qv::capture::SourceName(line), "line");
  const qv::capture::SourceId spaced = qv::capture::InternSource("write close");
  EXPECT_EQ(qv::capture::InternSource("write close"), spaced);
  EXPECT_EQ(qv::capture::SourceName(spaced), "write_close");
  EXPECT_EQ(qv::capture::InternSource(""), qv::capture::kNoSource);
  EXPECT_EQ(qv::capture::SourceName(qv::capture::kNoSource), "");
  EXPECT_EQ(qv::capture::SourceName(999999), "");
}

}  // namespace
}  // namespace qv::test
