#include "cli/html_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace qv::cli {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 180;
constexpr int kLeft = 60;  // room for the value axis
constexpr int kBottom = 30;
constexpr int kTop = 10;
constexpr const char* kPassColour = "#2e7d32";
constexpr const char* kFailColour = "#c62828";
constexpr const char* kBarColour = "#1565c0";
constexpr const char* kBoundColour = "#ef6c00";

std::string Num(double value, int decimals = 1) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

bool ParseDouble(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0' && std::isfinite(*value);
}

const std::vector<double>* Series(const TestResult& result, const std::string& key) {
  for (const auto& [name, values] : result.series)
    if (name == key) return &values;
  return nullptr;
}

std::string Figure(const TestResult& result, const std::string& key) {
  for (const auto& [name, value] : result.figures)
    if (name == key) return value;
  return {};
}

// An SVG canvas with a value axis; x and y in plot coordinates (0..1 of the plot area).
class Chart {
 public:
  Chart(const std::string& test, const std::string& title) {
    out_ << "<figure><figcaption>" << XmlEscape(title) << "</figcaption>\n"
         << "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" data-test=\""
         << XmlEscape(test) << "\" width=\"" << kWidth << "\" height=\"" << kHeight
         << "\" viewBox=\"0 0 " << kWidth << ' ' << kHeight << "\" role=\"img\">\n";
    Line(0, 0, 1, 0, "#555");
    Line(0, 0, 0, 1, "#555");
  }
  double X(double f) const { return kLeft + f * (kWidth - kLeft - 10); }
  double Y(double f) const { return kHeight - kBottom - f * (kHeight - kBottom - kTop); }

  void Rect(double x0, double y0, double x1, double y1, const char* colour,
            const std::string& tip) {
    out_ << "<rect x=\"" << Num(X(x0)) << "\" y=\"" << Num(Y(y1)) << "\" width=\""
         << Num(std::max(1.0, X(x1) - X(x0))) << "\" height=\"" << Num(std::max(0.0, Y(y0) - Y(y1)))
         << "\" fill=\"" << colour << "\"><title>" << XmlEscape(tip) << "</title></rect>\n";
  }
  void Line(double x0, double y0, double x1, double y1, const char* colour, bool dashed = false) {
    out_ << "<line x1=\"" << Num(X(x0)) << "\" y1=\"" << Num(Y(y0)) << "\" x2=\"" << Num(X(x1))
         << "\" y2=\"" << Num(Y(y1)) << "\" stroke=\"" << colour << "\""
         << (dashed ? " stroke-dasharray=\"4 3\"" : "") << "/>\n";
  }
  void Dot(double x, double y, const char* colour, const std::string& tip) {
    out_ << "<circle cx=\"" << Num(X(x)) << "\" cy=\"" << Num(Y(y)) << "\" r=\"5\" fill=\""
         << colour << "\"><title>" << XmlEscape(tip) << "</title></circle>\n";
  }
  // Text at plot coordinates; anchor start, middle or end.
  void Text(double x, double y, const std::string& text, const char* anchor = "middle",
            double dy = 0, int size = 11) {
    out_ << "<text x=\"" << Num(X(x)) << "\" y=\"" << Num(Y(y) + dy) << "\" font-size=\"" << size
         << "\" font-family=\"sans-serif\" text-anchor=\"" << anchor << "\">" << XmlEscape(text)
         << "</text>\n";
  }
  // The value axis from 0 to top, in unit.
  void ValueAxis(double top, const std::string& unit) {
    out_ << "<text x=\"" << kLeft - 4 << "\" y=\"" << Num(Y(1) + 4)
         << "\" font-size=\"11\" font-family=\"sans-serif\" text-anchor=\"end\">"
         << XmlEscape(Num(top, top < 10 ? 1 : 0)) << "</text>\n"
         << "<text x=\"" << kLeft - 4 << "\" y=\"" << Num(Y(0))
         << "\" font-size=\"11\" font-family=\"sans-serif\" text-anchor=\"end\">0</text>\n"
         << "<text x=\"4\" y=\"" << Num(Y(0.5)) << "\" font-size=\"11\" font-family=\"sans-serif\">"
         << XmlEscape(unit) << "</text>\n";
  }
  std::string Finish() {
    out_ << "</svg></figure>\n";
    return out_.str();
  }

 private:
  std::ostringstream out_;
};

// Round trips: ten bins between the least and the largest.
std::string EchoChart(const TestResult& result, const std::vector<double>& trips) {
  Chart chart(result.name, "Echo round trips (" + std::to_string(trips.size()) + " blocks)");
  const auto [low, high] = std::minmax_element(trips.begin(), trips.end());
  constexpr int kBins = 10;
  const double span = std::max(*high - *low, 1e-3);
  int counts[kBins] = {};
  for (double t : trips) ++counts[std::min(kBins - 1, int((t - *low) / span * kBins))];
  const int most = *std::max_element(counts, counts + kBins);
  for (int b = 0; b < kBins; ++b) {
    const double from = *low + span * b / kBins;
    chart.Rect(double(b) / kBins + 0.005, 0, double(b + 1) / kBins - 0.005,
               double(counts[b]) / std::max(most, 1), kBarColour,
               std::to_string(counts[b]) + " blocks from " + Num(from) + " ms");
  }
  chart.ValueAxis(most, "blocks");
  chart.Text(0, 0, Num(*low) + " ms", "start", 16);
  chart.Text(1, 0, Num(*high) + " ms", "end", 16);
  return chart.Finish();
}

// Each phase's read times as bars, their bounds as marks.
std::string TimeoutsChart(const TestResult& result) {
  struct Bar {
    std::string label;
    double ms;
    double bound;  // < 0: none
  };
  std::vector<Bar> bars;
  for (int phase = 1; phase <= 7; ++phase) {
    for (const char* kind : {"echo", "empty"}) {
      const std::string key = "phase" + std::to_string(phase) + "_" + kind + "_read";
      double ms = 0, bound = -1;
      if (!ParseDouble(Figure(result, key + "_ms"), &ms)) continue;
      ParseDouble(Figure(result, key + "_bound_ms"), &bound);
      bars.push_back({std::to_string(phase) + " " + kind, ms, bound});
    }
  }
  if (bars.empty()) return {};
  Chart chart(result.name,
              "Timeouts: each phase's read time (bar) against its bound (mark); "
              "e = echo read, 0 = empty read");
  double top = 1;
  for (const Bar& b : bars) top = std::max({top, b.ms, b.bound});
  top *= 1.1;
  const double w = 1.0 / bars.size();
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const Bar& b = bars[i];
    const bool over = b.bound >= 0 && b.ms > b.bound * 1.5 + 50;
    chart.Rect(i * w + w * 0.15, 0, (i + 1) * w - w * 0.15, b.ms / top,
               over ? kFailColour : kBarColour,
               "phase " + b.label + ": " + Num(b.ms) + " ms" +
                   (b.bound >= 0 ? " (bound " + Num(b.bound, 0) + " ms)" : " (no bound)"));
    if (b.bound >= 0) chart.Line(i * w, b.bound / top, (i + 1) * w, b.bound / top, kBoundColour);
    chart.Text((i + 0.5) * w, 0, b.label, "middle", 14, 9);
  }
  chart.ValueAxis(top, "ms");
  return chart.Finish();
}

std::string RateChart(const TestResult& result, const std::vector<double>& rates) {
  Chart chart(result.name, "Open/close cycles per second over the run");
  const double top = std::max(1.0, *std::max_element(rates.begin(), rates.end())) * 1.1;
  const double w = 1.0 / rates.size();
  for (std::size_t i = 0; i < rates.size(); ++i)
    chart.Rect(i * w, 0, (i + 1) * w, rates[i] / top, kBarColour, Num(rates[i]) + " cycles/s");
  chart.ValueAxis(top, "cycles/s");
  chart.Text(1, 0, "time", "end", 16);
  return chart.Finish();
}

// "50, 75, 110-2000000" on a logarithmic line from 1 to the largest rate.
std::string ScanChart(const TestResult& result, const std::string& list) {
  std::vector<std::pair<double, double>> ranges;
  std::istringstream items(list);
  std::string item;
  double top = 2;
  while (std::getline(items, item, ',')) {
    item.erase(0, item.find_first_not_of(' '));
    const auto dash = item.find('-');
    double first = 0, last = 0;
    if (!ParseDouble(item.substr(0, dash), &first)) continue;
    last = first;
    if (dash != std::string::npos && !ParseDouble(item.substr(dash + 1), &last)) continue;
    ranges.emplace_back(first, last);
    top = std::max(top, last);
  }
  Chart chart(result.name, "Baud rates the driver kept (logarithmic)");
  const double logTop = std::log10(top);
  auto at = [&](double rate) { return std::log10(std::max(rate, 1.0)) / logTop; };
  for (const auto& [first, last] : ranges) {
    chart.Rect(at(first), 0.3, std::max(at(last), at(first) + 0.002), 0.7, kPassColour,
               first == last ? Num(first, 0) : Num(first, 0) + "-" + Num(last, 0));
  }
  for (double decade = 1; decade <= top; decade *= 10)
    chart.Text(at(decade), 0, Num(decade, 0), "middle", 14);
  return chart.Finish();
}

// The step's end, the release and each write's end on one time line.
std::string WriteChart(const TestResult& result) {
  const std::vector<double>* ends = Series(result, "write_end_ms");
  const std::vector<double>* codes = Series(result, "write_end_code");
  const std::vector<double>* pending = Series(result, "write_still_pending_ms");
  double step = 0, released = -1;
  ParseDouble(Figure(result, "step_ms"), &step);
  ParseDouble(Figure(result, "released_at_ms"), &released);
  double top = std::max(step, released) + 50;
  for (const auto* times : {ends, pending})
    if (times)
      for (double t : *times) top = std::max(top, t + 50);
  Chart chart(result.name,
              "Each write's end on the time line (green: ended with 0, red: with an error, "
              "grey: still pending when the runner stopped waiting)");
  chart.Line(step / top, 0, step / top, 1, kBoundColour, true);
  chart.Text(step / top, 1, "step ends", step / top > 0.85 ? "end" : "middle", -2);
  if (released >= 0) {
    chart.Line(released / top, 0, released / top, 0.8, kBarColour, true);
    chart.Text(released / top, 0.8, "released", "start", -2);
  }
  if (ends) {
    for (std::size_t i = 0; i < ends->size(); ++i) {
      const double code = codes && i < codes->size() ? (*codes)[i] : 0;
      chart.Dot((*ends)[i] / top, 0.2 + 0.25 * (i % 3), code == 0 ? kPassColour : kFailColour,
                "write " + std::to_string(i + 1) + " ended with " + Num(code, 0) + " at " +
                    Num((*ends)[i]) + " ms");
    }
  }
  if (pending) {
    for (std::size_t i = 0; i < pending->size(); ++i)
      chart.Dot((*pending)[i] / top, 0.3 + 0.25 * (i % 2), "#9e9e9e",
                "a write still pending at " + Num((*pending)[i]) + " ms");
  }
  chart.Text(0, 0, "0 ms", "start", 16);
  chart.Text(1, 0, Num(top, 0) + " ms", "end", 16);
  return chart.Finish();
}

// The numeric figures of a test without a chart of its own.
std::string FigureBars(const TestResult& result) {
  std::vector<std::pair<std::string, double>> bars;
  for (const auto& [key, value] : result.figures) {
    double v = 0;
    if (ParseDouble(value, &v) && v >= 0) bars.emplace_back(key, v);
  }
  if (bars.empty()) return {};
  Chart chart(result.name, "Figures");
  double top = 1;
  for (const auto& b : bars) top = std::max(top, b.second);
  const double w = 1.0 / bars.size();
  for (std::size_t i = 0; i < bars.size(); ++i) {
    chart.Rect(i * w + w * 0.2, 0, (i + 1) * w - w * 0.2, bars[i].second / top, kBarColour,
               bars[i].first + " = " + Num(bars[i].second, 3));
    chart.Text((i + 0.5) * w, 0, bars[i].first, "middle", 14);
  }
  chart.ValueAxis(top, "");
  return chart.Finish();
}

std::string OwnChart(const TestResult& result) {
  if (const auto* trips = Series(result, "round_trip_ms"); trips && !trips->empty())
    return EchoChart(result, *trips);
  if (result.name == "timeouts") return TimeoutsChart(result);
  if (result.name == "open-close") {
    // A run too short for a slice has its one rate.
    const auto* rates = Series(result, "cycles_per_second");
    double rate = 0;
    if (rates && !rates->empty()) return RateChart(result, *rates);
    if (ParseDouble(Figure(result, "cycles_per_second"), &rate)) return RateChart(result, {rate});
  }
  if (result.name == "baud-scan" && !Figure(result, "list").empty())
    return ScanChart(result, Figure(result, "list"));
  if (result.name.rfind("write-", 0) == 0) return WriteChart(result);
  return {};
}

std::string ChartFor(const TestResult& result) {
  const std::string own = OwnChart(result);
  return own.empty() ? FigureBars(result) : own;
}

}  // namespace

std::string HtmlReport(const RunDescription& run, const std::vector<TestResult>& results) {
  int failed = 0;
  for (const TestResult& r : results) failed += r.passed ? 0 : 1;
  std::ostringstream page;
  page << "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n"
       << "<meta charset=\"utf-8\"/>\n<title>quor_vix-cli: " << XmlEscape(run.port) << "</title>\n"
       << "<style>body{font-family:sans-serif;margin:2em;max-width:60em}"
          "td,th{padding:2px 8px;text-align:left;vertical-align:top}"
          ".pass{color:"
       << kPassColour << "}.fail{color:" << kFailColour
       << "}pre{white-space:pre-wrap;margin:0}"
          "figure{margin:0.5em 0}figcaption{font-size:small;color:#444}</style>\n"
       << "</head>\n<body>\n<h1>Driver tests on " << XmlEscape(run.port) << " at " << run.speed
       << " bps</h1>\n<p>" << XmlEscape(run.timestamp) << " UTC: " << results.size() - failed
       << " passed, " << failed << " failed.</p>\n"
       << "<table>\n<tr><th>Test</th><th>Verdict</th><th>Seconds</th><th>Failure</th></tr>\n";
  for (const TestResult& r : results) {
    page << "<tr><td><a href=\"#" << XmlEscape(r.name) << "\">" << XmlEscape(r.name)
         << "</a></td><td class=\"" << (r.passed ? "pass\">PASS" : "fail\">FAIL") << "</td><td>"
         << Num(r.seconds, 3) << "</td><td><pre>" << XmlEscape(r.failure) << "</pre></td></tr>\n";
  }
  page << "</table>\n";
  for (const TestResult& r : results) {
    page << "<section id=\"" << XmlEscape(r.name) << "\">\n<h2 class=\""
         << (r.passed ? "pass" : "fail") << "\">" << XmlEscape(r.name) << ": "
         << (r.passed ? "PASS" : "FAIL") << "</h2>\n";
    if (!r.figures.empty()) page << ChartFor(r);
    page << "<table>\n";
    for (const auto& [key, value] : r.figures)
      page << "<tr><td>" << XmlEscape(key) << "</td><td>" << XmlEscape(value) << "</td></tr>\n";
    page << "</table>\n</section>\n";
  }
  page << "</body>\n</html>\n";
  return page.str();
}

}  // namespace qv::cli
