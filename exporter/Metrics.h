// The metrics page in the Prometheus text format (version 0.0.4), as pure rendering from
// what each controller's polls left. Every series has the label controller="NAME".
//
// A controller's series change only when one of its polls ends, so its part of each family
// is rendered then and kept; a scrape only joins the kept parts, family by family, and never
// waits on a controller.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "exporter/Poll.h"

namespace exporter {

// Upper bounds of the poll-duration buckets, in seconds (+Inf follows).
constexpr std::array<double, 11> kDurationBuckets = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

// What a controller's polls have left.
struct ControllerState {
  bool up = false;                       // the last poll completed
  std::optional<Reading> reading;        // of the last completed poll
  double lastPollSeconds = 0;            // when it completed, Unix time
  std::array<uint64_t, kPollErrors> errors{};
  std::array<uint64_t, kDurationBuckets.size()> buckets{};  // completed polls, not cumulative
  uint64_t polls = 0;                    // completed polls
  double durationSum = 0;
  // A poll completed after `seconds` at Unix time `now`, having read `r`.
  void completed(const Reading &r, double seconds, double now);
  void failed(PollError e);
};

// The families in the order of the page.
struct Family {
  const char *name;
  const char *type;  // "gauge", "counter", "histogram"
  const char *help;
};
const std::vector<Family> &families();

// How the alarm series are named and where each lamp's state comes from: a lamp of the
// status page, or the AC state lamp (lamp nullptr).
struct AlarmSeries {
  const char *alarm;  // the label value
  const char *lamp;   // the lamp's name on the status page
};
const std::vector<AlarmSeries> &alarmSeries();

class MetricsPage {
 public:
  explicit MetricsPage(std::vector<std::string> names);
  // Renders controller i's part of every family again.
  void update(std::size_t i, const ControllerState &state);
  // The whole page.
  std::string text() const;
  std::size_t controllers() const { return names_.size(); }

 private:
  std::vector<std::string> names_;
  std::vector<std::vector<std::string>> parts_;  // [controller][family]
};

// A controller's part of each family, one string per family of families().
std::vector<std::string> renderController(const std::string &name, const ControllerState &state);

// A value as the window shows it: general decimal format ("53.5", "-1", "220").
std::string valueText(double v);

}  // namespace exporter
