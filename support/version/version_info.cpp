#include "support/version/version_info.h"

#include <QString>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

// The program's own version resource, written at build time by the version generator.
extern "C" const unsigned char qv_version_resource[];
extern "C" const unsigned int qv_version_resource_size;

namespace {

// One node of a version block: wLength, wValueLength, wType, a wide key, the value, then child
// nodes, each aligned to 4 bytes from the start of the block.
struct Node {
  std::size_t offset = 0;
  std::size_t end = 0;  // offset + wLength
  std::uint16_t valueLength = 0;
  std::uint16_t type = 0;
  std::u16string key;
  std::size_t valueOffset = 0;
  std::size_t valueBytes = 0;
  std::size_t childrenOffset = 0;
};

std::size_t Align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

std::uint16_t ReadWord(const unsigned char* block, std::size_t at) {
  return static_cast<std::uint16_t>(block[at] | (block[at + 1] << 8));
}

// Parses the node at offset within [offset, limit); false when it does not fit.
bool ParseNode(const unsigned char* block, std::size_t offset, std::size_t limit, Node* node) {
  if (offset + 6 > limit) return false;
  const std::uint16_t length = ReadWord(block, offset);
  if (length < 6 || offset + length > limit) return false;
  node->offset = offset;
  node->end = offset + length;
  node->valueLength = ReadWord(block, offset + 2);
  node->type = ReadWord(block, offset + 4);
  node->key.clear();
  std::size_t at = offset + 6;
  for (;;) {
    if (at + 2 > node->end) return false;
    const std::uint16_t c = ReadWord(block, at);
    at += 2;
    if (c == 0) break;
    node->key.push_back(static_cast<char16_t>(c));
  }
  node->valueOffset = Align4(at);
  node->valueBytes = node->type == 1 ? std::size_t{node->valueLength} * 2 : node->valueLength;
  if (node->valueBytes > 0 && node->valueOffset + node->valueBytes > node->end) return false;
  node->childrenOffset = Align4(node->valueOffset + node->valueBytes);
  return true;
}

char16_t FoldCase(char16_t c) { return (c >= u'A' && c <= u'Z') ? c - u'A' + u'a' : c; }

bool SameKey(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

bool FindChild(const unsigned char* block, const Node& parent, std::u16string_view key,
               Node* found) {
  std::size_t at = parent.childrenOffset;
  while (at < parent.end) {
    Node child;
    if (!ParseNode(block, at, parent.end, &child)) return false;
    if (SameKey(child.key, key)) {
      *found = child;
      return true;
    }
    at = Align4(child.end);
  }
  return false;
}

std::u16string ToUtf16(const std::string& text) {
  const QString q = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  return std::u16string(reinterpret_cast<const char16_t*>(q.utf16()),
                        static_cast<std::size_t>(q.size()));
}

// Finds the node at subBlock; false when the path is not there or the block is malformed.
bool QueryNode(const unsigned char* block, const WCHAR* subBlock, Node* found) {
  Node node;
  // The root's own length bounds everything inside it.
  if (!ParseNode(block, 0, ReadWord(block, 0), &node)) return false;
  std::u16string_view path(subBlock);
  while (!path.empty()) {
    if (path.front() == u'\\') {
      path.remove_prefix(1);
      continue;
    }
    const std::size_t slash = path.find(u'\\');
    const std::u16string_view segment = path.substr(0, slash);
    Node child;
    if (!FindChild(block, node, segment, &child)) return false;
    node = child;
    path.remove_prefix(slash == std::u16string_view::npos ? path.size() : slash);
  }
  *found = node;
  return true;
}

}  // namespace

BOOL VerQueryValueW(const void* blockData, const WCHAR* subBlock, void** buffer, UINT* length) {
  if (blockData == nullptr || subBlock == nullptr || buffer == nullptr || length == nullptr)
    return FALSE;
  const auto* block = static_cast<const unsigned char*>(blockData);
  Node node;
  if (!QueryNode(block, subBlock, &node)) return FALSE;
  *buffer = const_cast<unsigned char*>(block + node.valueOffset);
  // Text values report characters, binary values bytes.
  *length = node.valueLength;
  return TRUE;
}

namespace qv::support {

bool FindVersionResource(HMODULE module, const void** data, DWORD* size) {
  if (module != nullptr || data == nullptr || size == nullptr) return false;
  *data = qv_version_resource;
  *size = qv_version_resource_size;
  return true;
}

}  // namespace qv::support

VersionInfo::VersionInfo(HMODULE module) {
  const void* data = nullptr;
  DWORD size = 0;
  if (!qv::support::FindVersionResource(module, &data, &size) || size == 0) return;
  *this = VersionInfo(data, size);
}

VersionInfo::VersionInfo(const void* block, DWORD size) {
  // A block is kept only when its root node fits inside it, so queries never read past its end.
  if (block == nullptr || size < 6) return;
  const auto* bytes = static_cast<const unsigned char*>(block);
  const std::uint16_t rootLength = ReadWord(bytes, 0);
  if (rootLength > size) return;
  Node root;
  if (!ParseNode(bytes, 0, rootLength, &root)) return;
  block_.assign(bytes, bytes + size);
}

const VS_FIXEDFILEINFO* VersionInfo::FixedInfo() const {
  if (block_.empty()) return nullptr;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block_.data(), u"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO))
    return nullptr;
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
  return info->dwSignature == VS_FFI_SIGNATURE ? info : nullptr;
}

std::string VersionInfo::GetVersionText() const {
  const VS_FIXEDFILEINFO* info = FixedInfo();
  if (info == nullptr) return {};
  const unsigned major = info->dwFileVersionMS >> 16;
  const unsigned minor = info->dwFileVersionMS & 0xFFFF;
  const unsigned build = info->dwFileVersionLS >> 16;
  char text[64];
  if (info->dwFileFlags & VS_FF_PRERELEASE)
    std::snprintf(text, sizeof text, "%u.%02u.%04u", major, minor, build);
  else std::snprintf(text, sizeof text, "%u.%02u", major, minor);
  return text;
}

DWORD VersionInfo::GetTranslation() const {
  if (block_.empty()) return 0;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block_.data(), u"\\VarFileInfo\\Translation", &value, &length) || length < 4)
    return 0;
  const auto* words = static_cast<const unsigned char*>(value);
  const DWORD language = ReadWord(words, 0);
  const DWORD codePage = ReadWord(words, 2);
  return language * 65536 + codePage;
}

std::string VersionInfo::GetStringValue(DWORD translation, const char* name) const {
  if (block_.empty() || name == nullptr) return {};
  char narrow[16];
  std::snprintf(narrow, sizeof narrow, "%.8x", static_cast<unsigned>(translation));
  std::u16string path = u"\\StringFileInfo\\" + ToUtf16(narrow) + u"\\" + ToUtf16(name);
  // The query path has room for 64 wide characters, terminator included.
  if (path.size() > 63) path.resize(63);
  Node node;
  if (!QueryNode(block_.data(), path.c_str(), &node) || node.valueLength == 0) return {};
  // The value length counts characters, but a node whose type field says binary (0) was only
  // checked for that many bytes: the copy is bounded by what the node really holds, which the
  // parse has bounded by the block.
  const std::size_t available = (node.end - std::min(node.end, node.valueOffset)) / 2;
  const std::size_t units = std::min<std::size_t>(node.valueLength, available);
  std::u16string wide(units, u'\0');
  if (units > 0) std::memcpy(wide.data(), block_.data() + node.valueOffset, units * 2);
  const std::size_t terminator = wide.find(u'\0');
  if (terminator != std::u16string::npos) wide.resize(terminator);
  return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size())).toStdString();
}

std::string VersionInfo::GetFullVersionText() const {
  std::string text = GetVersionText();
  const VS_FIXEDFILEINFO* info = FixedInfo();
  if (info == nullptr) return text;
  if (info->dwFileFlags & VS_FF_SPECIALBUILD)
    text += " " + GetStringValue(GetTranslation(), "SpecialBuild");
  if (info->dwFileFlags & VS_FF_PRIVATEBUILD)
    text += " (" + GetStringValue(GetTranslation(), "PrivateBuild") + ")";
  return text;
}
