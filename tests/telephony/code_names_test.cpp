// The names of the line service's codes and their fall-back texts.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "telephony/code_names.h"
#include "telephony/line_types.h"

namespace {

TEST(CodeNames, ResultsByNameAndTheUnnamedOnesInHexadecimal) {
  EXPECT_STREQ(LineErrorName(0), "SUCCESS");
  EXPECT_STREQ(LineErrorName(LineErr(0x01)), "LINEERR_ALLOCATED");
  EXPECT_STREQ(LineErrorName(LINEERR_OPERATIONUNAVAIL), "LINEERR_OPERATIONUNAVAIL");
  EXPECT_STREQ(LineErrorName(LINEERR_STRUCTURETOOSMALL), "LINEERR_STRUCTURETOOSMALL");
  EXPECT_STREQ(LineErrorName(LineErr(0x30)), "LINEERR_INVALMESSAGEID");
  EXPECT_STREQ(LineErrorName(LineErr(0x32)), "LINEERR_INVALPARAM");
  EXPECT_STREQ(LineErrorName(LineErr(0x56)), "LINEERR_NOMULTIPLEINSTANCE");
  // The gaps of the API, the first number past the table, and request identifiers.
  EXPECT_STREQ(LineErrorName(LineErr(0x04)), "LINEERR_0x80000004");
  EXPECT_STREQ(LineErrorName(LineErr(0x31)), "LINEERR_0x80000031");
  EXPECT_STREQ(LineErrorName(LineErr(0x57)), "LINEERR_0x80000057");
  EXPECT_STREQ(LineErrorName(5), "LINEERR_0x00000005");
  EXPECT_STREQ(LineErrorName(-1), "LINEERR_0xFFFFFFFF");
}

TEST(CodeNames, MessagesCallStatesAndTheirFallBacks) {
  EXPECT_STREQ(LineMessageName(0), "LINE_ADDRESSSTATE");
  EXPECT_STREQ(LineMessageName(LINE_REPLY), "LINE_REPLY");
  EXPECT_STREQ(LineMessageName(14), "PHONE_BUTTON");
  EXPECT_STREQ(LineMessageName(20), "PHONE_CREATE");
  // The number in decimal behind "0x", as the program always printed it.
  EXPECT_STREQ(LineMessageName(21), "LINE_Callback_0x21L");

  EXPECT_STREQ(LineCallStateName(0x1), "LINECALLSTATE_IDLE");
  EXPECT_STREQ(LineCallStateName(0x100), "LINECALLSTATE_CONNECTED");
  EXPECT_STREQ(LineCallStateName(0x8000), "LINECALLSTATE_UNKNOWN");
  EXPECT_STREQ(LineCallStateName(0x300), "LINECALLSTATE_0x00000300");
  EXPECT_STREQ(LineCallStateName(0), "LINECALLSTATE_0x00000000");
  EXPECT_STREQ(LineCallStateName(0x10000), "LINECALLSTATE_0x00010000");
}

TEST(CodeNames, DetailsAreNamedByTheirState) {
  EXPECT_STREQ(LineCallStateDetailName(LINECALLSTATE_CONNECTED, 0), "0 (active)");
  EXPECT_STREQ(LineCallStateDetailName(LINECALLSTATE_CONNECTED, 1), "LINECONNECTEDMODE_ACTIVE");
  EXPECT_STREQ(LineCallStateDetailName(LINECALLSTATE_CONNECTED, 4), "LINECONNECTEDMODE_0x00000004");
  EXPECT_STREQ(LineCallStateDetailName(LINECALLSTATE_IDLE, 5), "0x00000005");
  EXPECT_STREQ(LineCallStateDetailName(LINECALLSTATE_CONFERENCED, 0x1234), "hConfCall=0x00001234");
  EXPECT_STREQ(LineCallStateDetailName(LINECALLSTATE_CONFERENCED, 1), "hConfCall=0x00000001");
  EXPECT_STREQ(LineCallStateDetailName(LINECALLSTATE_OFFERING, 2), "LINEOFFERINGMODE_INACTIVE");
  EXPECT_STREQ(LineCallStateDetailName(LINECALLSTATE_DIALTONE, 0x20), "LINEDIALTONEMODE_UNAVAIL");
  EXPECT_STREQ(LineCallStateDetailName(LINECALLSTATE_DIALTONE, 0x40),
               "LINEDIALTONEMODE_0x00000040");
  EXPECT_STREQ(LineCallStateDetailName(LINECALLSTATE_BUSY, 8), "LINEBUSYMODE_UNAVAIL");
  EXPECT_STREQ(LineCallStateDetailName(LINECALLSTATE_SPECIALINFO, 0x10), "LINESPECIALINFO_UNAVAIL");
  EXPECT_STREQ(LineCallStateDetailName(LINECALLSTATE_DISCONNECTED, 0x1000),
               "LINEDISCONNECTMODE_NODIALTONE");
  EXPECT_STREQ(LineCallStateDetailName(LINECALLSTATE_DISCONNECTED, 0x3),
               "LINEDISCONNECTMODE_0x00000003");
  EXPECT_STREQ(LineCallStateDetailName(LINECALLSTATE_DISCONNECTED, 0x2000),
               "LINEDISCONNECTMODE_0x00002000");
}

TEST(CodeNames, FallBackTextsOfDifferentFunctionsStandTogetherAndPerThread) {
  // One trace line holds a state's text and its detail's text at once.
  const char* state = LineCallStateName(0x300);
  const char* detail = LineCallStateDetailName(0x300, 0x77);
  EXPECT_STREQ(state, "LINECALLSTATE_0x00000300");
  EXPECT_STREQ(detail, "0x00000077");
  // Another thread's fall-backs leave this thread's texts alone.
  std::thread([] { EXPECT_STREQ(LineCallStateName(0x600), "LINECALLSTATE_0x00000600"); }).join();
  EXPECT_STREQ(state, "LINECALLSTATE_0x00000300");
}

}  // namespace
