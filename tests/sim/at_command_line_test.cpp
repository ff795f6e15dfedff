#include <gtest/gtest.h>

#include "sim/at_command_line.h"

namespace {

using qv::sim::AtArg;
using qv::sim::AtCommand;
using qv::sim::ParseAtArgs;
using qv::sim::SplitAtCommands;

TEST(AtCommandLine, SplitsBasicAndExtendedCommands) {
  const auto cmds = SplitAtCommands("e1 v0&k3+cmee=1;+Kpsl=\"Mixed Case;\",1;+CMEE?;+CSCS=?");
  ASSERT_TRUE(cmds);
  ASSERT_EQ(cmds->size(), 7u);
  EXPECT_EQ((*cmds)[0].name, "E");
  EXPECT_EQ((*cmds)[0].value, 1u);
  EXPECT_EQ((*cmds)[1].name, "V");
  EXPECT_EQ((*cmds)[1].value, 0u);
  EXPECT_EQ((*cmds)[2].name, "&K");
  EXPECT_EQ((*cmds)[2].value, 3u);
  EXPECT_EQ((*cmds)[3].name, "+CMEE");
  EXPECT_EQ((*cmds)[3].form, AtCommand::Form::kSet);
  EXPECT_EQ((*cmds)[4].name, "+KPSL");
  EXPECT_EQ((*cmds)[4].args, "\"Mixed Case;\",1");  // quoted text kept as typed
  EXPECT_EQ((*cmds)[5].form, AtCommand::Form::kRead);
  EXPECT_EQ((*cmds)[6].form, AtCommand::Form::kTest);

  const auto bare = SplitAtCommands("EZ");
  ASSERT_TRUE(bare);
  ASSERT_EQ(bare->size(), 2u);
  EXPECT_FALSE((*bare)[0].value);
  EXPECT_TRUE(SplitAtCommands("")->empty());
}

TEST(AtCommandLine, RejectsMalformedLines) {
  for (const char* body : {"+CKPD=\"1", "E1=", "&", "+", "+CMEE=1E1\"", "E99999999999", "*"}) {
    EXPECT_FALSE(SplitAtCommands(body)) << body;
  }
}

TEST(AtCommandLine, ParsesArguments) {
  const auto args = ParseAtArgs("\"WAV\",1032,,\"a,b\"");
  ASSERT_TRUE(args);
  ASSERT_EQ(args->size(), 4u);
  EXPECT_EQ((*args)[0].kind, AtArg::Kind::kString);
  EXPECT_EQ((*args)[0].text, "WAV");
  EXPECT_EQ((*args)[1].kind, AtArg::Kind::kNumber);
  EXPECT_EQ((*args)[1].number, 1032u);
  EXPECT_EQ((*args)[2].kind, AtArg::Kind::kOmitted);
  EXPECT_EQ((*args)[3].text, "a,b");
  for (const char* bad : {"size", "1 2", "\"open", "4294967296", "1,\"x\"y"}) {
    EXPECT_FALSE(ParseAtArgs(bad)) << bad;
  }
}

}  // namespace
