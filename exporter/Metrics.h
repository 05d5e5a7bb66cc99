// The metrics page in the Prometheus text format (version 0.0.4), as pure rendering from
// what each controller's polls left. Every series but the exporter's own has the label
// controller="NAME".
//
// A controller's series change only when one of its polls ends, so its part of each family
// is rendered then and kept; a scrape only joins the kept parts, family by family, and never
// waits on a controller.
//
// What is served of a controller:
//   always        its info (what it is and how it is reached), up, poll errors, poll
//                 durations and, once one completed, the time of its last completed poll;
//   while fresh   its measurements, alarms, states and modules: from its last completed
//                 poll, as long as that is at most max-age old. Older (or never) readings
//                 are not served at all, so nothing frozen looks live.
// Of the modules only those in the last module list carry values; every slot carries
// `present`. The battery state appears once the controller has reported one.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "exporter/Options.h"
#include "exporter/Poll.h"

namespace exporter {

// Upper bounds of the poll-duration buckets, in seconds (+Inf follows).
constexpr std::array<double, 11> kDurationBuckets = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

// What a controller's polls have left.
struct ControllerState {
  bool up = false;                       // the last poll completed
  std::optional<Reading> reading;        // of the last completed poll
  double lastPollSeconds = 0;            // when it completed, Unix time
  double readAt = 0;                     // when it completed, on the steady clock (seconds)
  bool batteryReported = false;          // a status answer has carried a battery state bit
  std::array<uint64_t, kPollErrors> errors{};
  std::array<uint64_t, kDurationBuckets.size()> buckets{};  // completed polls, not cumulative
  uint64_t polls = 0;                    // completed polls
  double durationSum = 0;
  // A poll completed after `seconds`, having read `r`, at Unix time `now` and steady time
  // `steadyNow`.
  void completed(const Reading &r, double seconds, double now, double steadyNow);
  void failed(PollError e);
};

// Whether the controller's reading may be served at steady time `now`: there is one, and it
// is at most maxAge seconds old. The one rule for every endpoint that serves readings.
bool fresh(const ControllerState &s, double now, double maxAge);

// The families in the order of the page.
struct Family {
  const char *name;
  const char *type;  // "gauge", "counter", "histogram"
  const char *help;
  enum class Scope { Exporter, Controller, Reading } scope;  // Reading: served while fresh
};
const std::vector<Family> &families();

// How the alarm series are named and where each lamp's state comes from: a lamp of the
// status page, or the AC state lamp (lamp nullptr).
struct AlarmSeries {
  const char *alarm;  // the label value
  const char *lamp;   // the lamp's name on the status page
};
const std::vector<AlarmSeries> &alarmSeries();

// What powerhost_exporter_build_info says.
struct BuildInfo {
  std::string version, revision, qtVersion;
};

class MetricsPage {
 public:
  MetricsPage(BuildInfo build, double maxAgeSeconds);
  // The controllers, in the page's order; every one starts as never polled.
  void setControllers(const std::vector<ControllerEntry> &controllers);
  // Renders controller i's part of every family again.
  void update(std::size_t i, const ControllerState &state);
  void setMaxAge(double seconds);
  // How the last reload of the configuration went, and when the last good one was (Unix time).
  void setReload(bool successful, double lastSuccessSeconds);

  // The whole page at steady time `now`.
  std::string text(double now) const;
  // Bumped by every change above: a page rendered at the same generation differs only when
  // a reading has turned stale since (staleAt).
  uint64_t generation() const { return generation_; }
  // The steady time after `now` at which the next served reading turns stale; infinity when
  // none will.
  double staleAt(double now) const;
  std::size_t controllers() const { return parts_.size(); }

 private:
  std::string exporterPart(std::size_t family) const;
  BuildInfo build_;
  double maxAge_;
  bool reloadOk_ = true;
  double reloadSeconds_ = 0;
  std::vector<ControllerEntry> entries_;
  std::vector<std::vector<std::string>> parts_;  // [controller][family]
  std::vector<std::optional<double>> readAt_;    // [controller]: steady time of its reading
  uint64_t generation_ = 0;
};

// A controller's part of each family, one string per family of families() (empty for the
// exporter's own families).
std::vector<std::string> renderController(const ControllerEntry &controller, const ControllerState &state);

// A reading's values for endpoints that show them in their own terms (Nut.h): the
// measurements as the page's boxes show them (humidity in percent), the AC state and the
// alarms raised, by their powerhost_alarm names.
struct ReadingValues {
  double acVolts = 0, dcVolts = 0, dcAmperes = 0, batteryAmperes = 0, batteryCelsius = 0, ambientCelsius = 0,
         humidityPercent = 0;
  int modules = 0;
  bool acFailed = false;  // power fail (the page's "停电"), not only over- or under-voltage
  std::vector<const char *> alarms;
};
ReadingValues readingValues(const Reading &r);

// A value as the window shows it: general decimal format ("53.5", "-1", "220").
std::string valueText(double v);
// A label value with backslash, double quote and line feed escaped.
std::string escapeLabel(const std::string &value);

}  // namespace exporter
