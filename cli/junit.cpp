#include "cli/junit.h"

#include <cstdio>

namespace qv::cli {
namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";

// The length of the valid UTF-8 sequence at text[i], 0 when there is none.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, least = 0x80;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, least = 0x800;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, least = 0x10000;
  else return 0;
  if (i + length > text.size()) return 0;
  unsigned code = lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  // Overlong forms, surrogates, beyond U+10FFFF and the two non-characters XML refuses.
  if (code < least || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF || code == 0xFFFE ||
      code == 0xFFFF) {
    return 0;
  }
  return length;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

std::string Property(const std::string& name, const std::string& value) {
  return "<property name=\"" + XmlEscape(name) + "\" value=\"" + XmlEscape(value) + "\"/>";
}

}  // namespace

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t length = Utf8Length(text, i);
      if (length == 0) {
        out += kReplacement;
        ++i;
      } else {
        out.append(text, i, length);
        i += length;
      }
      continue;
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\n': out += "&#10;"; break;  // kept as a line break in attribute values too
      case '\r': out += "&#13;"; break;
      case '\t': out += "&#9;"; break;
      default:
        if (c >= 0x20) out += char(c);
    }
    ++i;
  }
  return out;
}

std::string JUnitXml(const RunDescription& run, const std::vector<TestResult>& results) {
  int failures = 0;
  double total = 0;
  for (const TestResult& r : results) {
    if (!r.passed) ++failures;
    total += r.seconds;
  }
  const std::string counts = " tests=\"" + std::to_string(results.size()) + "\" failures=\"" +
                             std::to_string(failures) + "\" errors=\"0\" time=\"" + Seconds(total) +
                             "\"";
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += "<testsuites name=\"quor_vix-cli\"" + counts + ">\n";
  xml += "  <testsuite name=\"" + XmlEscape(run.port) + "\"" + counts + " skipped=\"0\"" +
         " timestamp=\"" + XmlEscape(run.timestamp) + "\">\n";
  xml += "    <properties>" + Property("port", run.port) +
         Property("speed_bps", std::to_string(run.speed)) + "</properties>\n";
  for (const TestResult& r : results) {
    xml += "    <testcase name=\"" + XmlEscape(r.name) + "\" classname=\"quor_vix." +
           XmlEscape(r.name) + "\" time=\"" + Seconds(r.seconds) + "\">\n";
    if (!r.figures.empty()) {
      xml += "      <properties>";
      for (const auto& [name, value] : r.figures) xml += Property(name, value);
      xml += "</properties>\n";
    }
    if (!r.passed) {
      const std::string firstLine = r.failure.substr(0, r.failure.find('\n'));
      xml += "      <failure message=\"" + XmlEscape(firstLine) + "\" type=\"verdict\">" +
             XmlEscape(r.failure) + "</failure>\n";
    }
    xml += "    </testcase>\n";
  }
  xml += "  </testsuite>\n</testsuites>\n";
  return xml;
}

}  // namespace qv::cli
