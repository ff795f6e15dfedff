#include "support/version_gen/version_resource.h"

#include <cstdio>
#include <stdexcept>

namespace qv::support {
namespace {

// Writes little-endian words and wide strings; nodes patch their length once their children are
// written.
class Writer {
 public:
  void Word(std::uint16_t w) {
    bytes_.push_back(static_cast<unsigned char>(w & 0xFF));
    bytes_.push_back(static_cast<unsigned char>(w >> 8));
  }
  void Dword(std::uint32_t d) {
    Word(static_cast<std::uint16_t>(d & 0xFFFF));
    Word(static_cast<std::uint16_t>(d >> 16));
  }
  // UTF-8 in, UTF-16 out, terminator included; returns the number of UTF-16 units written.
  std::size_t WideString(const std::string& text) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size();) {
      std::uint32_t cp = static_cast<unsigned char>(text[i]);
      int extra = cp >= 0xF0 ? 3 : cp >= 0xE0 ? 2 : cp >= 0xC0 ? 1 : 0;
      if (extra > 0) cp &= (0x3F >> extra);
      ++i;
      for (int k = 0; k < extra && i < text.size(); ++k, ++i)
        cp = (cp << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
      if (cp >= 0x10000) {
        cp -= 0x10000;
        Word(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
        Word(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
        units += 2;
      } else {
        Word(static_cast<std::uint16_t>(cp));
        ++units;
      }
    }
    Word(0);
    return units + 1;
  }
  void Align() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  }
  // Starts a node: wLength (patched by End), wValueLength, wType, szKey, padding.
  std::size_t Begin(const std::string& key, std::uint16_t valueLength, std::uint16_t type) {
    Align();
    const std::size_t start = bytes_.size();
    Word(0);
    Word(valueLength);
    Word(type);
    WideString(key);
    Align();
    return start;
  }
  void End(std::size_t start) {
    const std::size_t length = bytes_.size() - start;
    if (length > 0xFFFF) throw std::length_error("version resource node too long");
    bytes_[start] = static_cast<unsigned char>(length & 0xFF);
    bytes_[start + 1] = static_cast<unsigned char>(length >> 8);
  }
  std::vector<unsigned char>& Bytes() { return bytes_; }

 private:
  std::vector<unsigned char> bytes_;
};

std::size_t Utf16Length(const std::string& text) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) == 0x80) continue;
    units += c >= 0xF0 ? 2 : 1;
  }
  return units + 1;
}

}  // namespace

std::vector<unsigned char> BuildVersionResource(const VersionResourceFields& fields) {
  Writer w;
  const std::size_t root = w.Begin("VS_VERSION_INFO", 52, 0);
  const std::uint32_t ms = (std::uint32_t{fields.major} << 16) | fields.minor;
  const std::uint32_t ls = (std::uint32_t{fields.build} << 16) | fields.revision;
  w.Dword(0xFEEF04BD);  // signature
  w.Dword(0x00010000);  // structure version
  w.Dword(ms);
  w.Dword(ls);
  w.Dword(ms);  // product version = file version
  w.Dword(ls);
  w.Dword(0x3F);  // flags mask
  w.Dword(fields.fileFlags);
  w.Dword(0x00040004);  // VOS_NT_WINDOWS32
  w.Dword(1);           // VFT_APP
  w.Dword(0);
  w.Dword(0);
  w.Dword(0);

  if (!fields.translations.empty()) {
    const std::size_t sfi = w.Begin("StringFileInfo", 0, 1);
    char key[16];
    std::snprintf(key, sizeof key, "%.8x", static_cast<unsigned>(fields.translations.front()));
    const std::size_t table = w.Begin(key, 0, 1);
    for (const auto& [name, value] : fields.strings) {
      const std::size_t s = w.Begin(name, static_cast<std::uint16_t>(Utf16Length(value)), 1);
      w.WideString(value);
      w.End(s);
    }
    w.End(table);
    w.End(sfi);

    const std::size_t vfi = w.Begin("VarFileInfo", 0, 1);
    const std::size_t var =
        w.Begin("Translation", static_cast<std::uint16_t>(4 * fields.translations.size()), 0);
    for (std::uint32_t t : fields.translations) {
      w.Word(static_cast<std::uint16_t>(t >> 16));     // language
      w.Word(static_cast<std::uint16_t>(t & 0xFFFF));  // code page
    }
    w.End(var);
    w.End(vfi);
  }
  w.End(root);
  return std::move(w.Bytes());
}

}  // namespace qv::support
