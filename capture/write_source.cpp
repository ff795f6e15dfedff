#include "capture/write_source.h"

#include <mutex>
#include <vector>

namespace qv::capture {
namespace {

constexpr std::size_t kMostSources = 4096;

struct SourceTable {
  std::mutex mu;
  std::vector<std::string> names;  // id - 1
};

SourceTable& Table() {
  static auto* table = new SourceTable;  // never destroyed: writes may run while the process ends
  return *table;
}

}  // namespace

SourceId InternSource(std::string_view name) {
  if (name.empty()) return kNoSource;
  // One word: the capture's detail is the rest of its line, and a name is one of its words.
  std::string word(name);
  for (char& c : word)
    if (c == ' ' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  SourceTable& table = Table();
  std::lock_guard lock(table.mu);
  for (std::size_t i = 0; i < table.names.size(); ++i)
    if (table.names[i] == word) return SourceId(i + 1);
  if (table.names.size() >= kMostSources) return kNoSource;
  table.names.push_back(std::move(word));
  return SourceId(table.names.size());
}

std::string SourceName(SourceId id) {
  SourceTable& table = Table();
  std::lock_guard lock(table.mu);
  if (id == kNoSource || id > table.names.size()) return {};
  return table.names[id - 1];
}

}  // namespace qv::capture
