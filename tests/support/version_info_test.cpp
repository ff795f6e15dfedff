// Version texts from version blocks built by the same code as the program's own resource, and the
// block lookups they rest on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "support/version_gen/version_resource.h"
#include "support/version/version_info.h"

namespace {

using qv::support::BuildVersionResource;
using qv::support::VersionResourceFields;

VersionInfo FromFields(const VersionResourceFields& fields) {
  const std::vector<unsigned char> block = BuildVersionResource(fields);
  return VersionInfo(block.data(), static_cast<DWORD>(block.size()));
}

VersionResourceFields Version(std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                              std::uint32_t flags = 0) {
  VersionResourceFields fields;
  fields.major = major;
  fields.minor = minor;
  fields.build = build;
  fields.fileFlags = flags;
  return fields;
}

TEST(VersionInfo, ShortTextShowsTheBuildNumberOnlyForPreReleases) {
  EXPECT_EQ(FromFields(Version(1, 55, 0)).GetVersionText(), "1.55");
  EXPECT_EQ(FromFields(Version(2, 5, 12, VS_FF_PRERELEASE)).GetVersionText(), "2.05.0012");
  EXPECT_EQ(FromFields(Version(2, 5, 12)).GetVersionText(), "2.05");
  EXPECT_EQ(FromFields(Version(1, 55, 0)).GetFullVersionText(), "1.55");
}

TEST(VersionInfo, FullTextAddsSpecialAndPrivateBuildNotes) {
  VersionResourceFields fields = Version(1, 55, 0, VS_FF_PRIVATEBUILD);
  fields.strings = {{"FileVersion", "1.55.0.0"}, {"PrivateBuild", "test"}};
  EXPECT_EQ(FromFields(fields).GetFullVersionText(), "1.55 (test)");

  fields.fileFlags = VS_FF_SPECIALBUILD | VS_FF_PRIVATEBUILD | VS_FF_PRERELEASE;
  fields.strings.emplace_back("SpecialBuild", "for the lab");
  EXPECT_EQ(FromFields(fields).GetFullVersionText(), "1.55.0000 for the lab (test)");

  // A flag without its string still adds its punctuation; a string without its flag adds nothing.
  fields.fileFlags = VS_FF_SPECIALBUILD;
  fields.strings = {{"PrivateBuild", "test"}};
  EXPECT_EQ(FromFields(fields).GetFullVersionText(), "1.55 ");
}

TEST(VersionInfo, TranslationAndStringsOfTheStringTable) {
  VersionResourceFields fields = Version(1, 0, 0);
  fields.strings = {{"CompanyName", "QUELM"}, {"Comments", "caf\xc3\xa9"}, {"Empty", ""}};
  const VersionInfo info = FromFields(fields);
  ASSERT_EQ(info.GetTranslation(), 0x040C04B0u);
  EXPECT_EQ(info.GetStringValue(0x040C04B0, "CompanyName"), "QUELM");
  EXPECT_EQ(info.GetStringValue(0x040C04B0, "companyname"), "QUELM");  // keys ignore case
  EXPECT_EQ(info.GetStringValue(0x040C04B0, "Comments"), "caf\xc3\xa9");
  EXPECT_EQ(info.GetStringValue(0x040C04B0, "Empty"), "");
  EXPECT_EQ(info.GetStringValue(0x040C04B0, "Missing"), "");
  EXPECT_EQ(info.GetStringValue(0x040904B0, "CompanyName"), "");  // another translation
}

TEST(VersionInfo, BlockWithoutTranslationGivesEmptyStrings) {
  VersionResourceFields fields = Version(1, 55, 0, VS_FF_PRIVATEBUILD | VS_FF_SPECIALBUILD);
  fields.translations.clear();
  fields.strings = {{"PrivateBuild", "test"}};
  const VersionInfo info = FromFields(fields);
  EXPECT_EQ(info.GetTranslation(), 0u);
  EXPECT_EQ(info.GetStringValue(0, "PrivateBuild"), "");
  EXPECT_EQ(info.GetFullVersionText(), "1.55  ()");
}

TEST(VersionInfo, QueriesFollowTheWin32Layout) {
  VersionResourceFields fields = Version(3, 7, 9, VS_FF_PRERELEASE);
  fields.revision = 4;
  fields.strings = {{"ProductName", "quor_vix"}};
  const std::vector<unsigned char> block = BuildVersionResource(fields);
  // Root header: total length, 52 bytes of value, binary, key "VS_VERSION_INFO".
  EXPECT_EQ(block[0] | (block[1] << 8), static_cast<int>(block.size()));
  EXPECT_EQ(block[2] | (block[3] << 8), 52);

  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), u"\\", &value, &length));
  ASSERT_EQ(length, 52u);
  // The fixed information starts right after the header, key and padding: 6 + 32 bytes + 2.
  EXPECT_EQ(static_cast<unsigned char*>(value) - block.data(), 40);
  VS_FIXEDFILEINFO fixed;
  std::memcpy(&fixed, value, sizeof fixed);
  EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed.dwFileVersionMS, 0x00030007u);
  EXPECT_EQ(fixed.dwFileVersionLS, 0x00090004u);
  EXPECT_EQ(fixed.dwFileFlags, VS_FF_PRERELEASE);

  ASSERT_TRUE(VerQueryValueW(block.data(), u"\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  const auto* t = static_cast<unsigned char*>(value);
  EXPECT_EQ(t[0] | (t[1] << 8), 0x040C);  // language, then code page
  EXPECT_EQ(t[2] | (t[3] << 8), 0x04B0);

  ASSERT_TRUE(
      VerQueryValueW(block.data(), u"\\StringFileInfo\\040c04b0\\ProductName", &value, &length));
  EXPECT_EQ(length, 9u);  // characters, terminator included
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(value)), u"quor_vix");

  EXPECT_FALSE(VerQueryValueW(block.data(), u"\\StringFileInfo\\040c04b0\\Nope", &value, &length));
  EXPECT_FALSE(VerQueryValueW(block.data(), u"\\Nope", &value, &length));
}

TEST(VersionInfo, MalformedOrTruncatedBlocksAreRefused) {
  std::vector<unsigned char> block = BuildVersionResource(Version(1, 55, 0));
  // A block shorter than its own root length is not taken.
  const VersionInfo truncated(block.data(), static_cast<DWORD>(block.size() - 1));
  EXPECT_FALSE(truncated.IsLoaded());
  EXPECT_EQ(truncated.GetFullVersionText(), "");
  // A child that claims to run past its parent ends the lookup.
  std::vector<unsigned char> broken = block;
  const std::size_t sfi = 40 + 52;  // first child, right after the fixed information
  broken[sfi] = 0xFF;
  broken[sfi + 1] = 0x7F;
  void* value = nullptr;
  UINT length = 0;
  EXPECT_FALSE(VerQueryValueW(broken.data(), u"\\VarFileInfo\\Translation", &value, &length));
  EXPECT_EQ(VersionInfo(broken.data(), static_cast<DWORD>(broken.size())).GetTranslation(), 0u);
}

// Offset of the node whose key is key: the key follows the node's three header words.
std::size_t NodeWithKey(const std::vector<unsigned char>& block, std::u16string_view key) {
  for (std::size_t at = 6; at + 2 * key.size() <= block.size(); at += 2) {
    if (std::memcmp(&block[at], key.data(), 2 * key.size()) == 0) return at - 6;
  }
  ADD_FAILURE() << "no such key";
  return 0;
}
void PutWord(std::vector<unsigned char>& block, std::size_t at, std::size_t value) {
  block[at] = static_cast<unsigned char>(value & 0xFF);
  block[at + 1] = static_cast<unsigned char>(value >> 8);
}

TEST(VersionInfo, AStringMarkedBinaryIsReadOnlyWithinItsNodeAndTheBlock) {
  VersionResourceFields fields = Version(1, 55, 0, VS_FF_PRIVATEBUILD);
  fields.strings = {{"PrivateBuild", "lab build 7"}};
  std::vector<unsigned char> block = BuildVersionResource(fields);
  const std::size_t node = NodeWithKey(block, u"PrivateBuild");
  const std::size_t end = node + (block[node] | (block[node + 1] << 8));
  // The block ends with the string's node: every node around it ends there too.
  for (std::size_t outer :
       {std::size_t{0}, NodeWithKey(block, u"StringFileInfo"), NodeWithKey(block, u"040c04b0")})
    PutWord(block, outer, end - outer);
  block.resize(end);
  // Type 0 (binary), with a value length that fits the node as bytes but not as characters.
  const std::size_t valueOffset = (node + 6 + 2 * 13 + 3) & ~std::size_t{3};
  PutWord(block, node + 2, end - valueOffset);
  PutWord(block, node + 4, 0);

  const VersionInfo info(block.data(), static_cast<DWORD>(block.size()));
  ASSERT_TRUE(info.IsLoaded());
  EXPECT_EQ(info.GetStringValue(0x040C04B0, "PrivateBuild"), "lab build 7");
  // Without a terminator inside the node the value ends with the node.
  PutWord(block, end - 2, 'x');
  const VersionInfo unterminated(block.data(), static_cast<DWORD>(block.size()));
  EXPECT_EQ(unterminated.GetStringValue(0x040C04B0, "PrivateBuild"), "lab build 7x");
}

TEST(VersionInfo, TheProgramCarriesItsOwnResource) {
  const VersionInfo own(nullptr);
  ASSERT_TRUE(own.IsLoaded());
  EXPECT_EQ(own.GetTranslation(), 0x040C04B0u);
  EXPECT_EQ(own.GetStringValue(own.GetTranslation(), "ProductName"), "quor_vix");
  // Generated from the project version: major.minor as "%u.%02u".
  unsigned major = 0, minor = 0;
  ASSERT_EQ(std::sscanf(QV_PROJECT_VERSION, "%u.%u", &major, &minor), 2);
  char expected[32];
  std::snprintf(expected, sizeof expected, "%u.%02u", major, minor);
  EXPECT_EQ(own.GetVersionText(), expected);
  int dummy = 0;
  EXPECT_FALSE(VersionInfo(&dummy).IsLoaded());  // any other module has none
}

}  // namespace
