#include "exporter/Metrics.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "protocol/Conversions.h"

namespace exporter {

namespace {

// A measurement of the status page and the metric that carries it.
struct MeasurementSeries {
  const char *metric;
  const char *box;  // the page's box
  double scale;     // the box's value times this is the metric's
  const char *help;
};
const MeasurementSeries kMeasurements[] = {
    {"powerhost_ac_input_voltage_volts", "Edit14", 1, "AC input voltage."},
    {"powerhost_dc_output_voltage_volts", "Edit16", 1, "DC output (bus) voltage."},
    {"powerhost_dc_output_current_amperes", "Edit15", 1, "DC output (load) current."},
    {"powerhost_battery_current_amperes", "Edit17", 1, "Battery current; negative while the battery discharges."},
    {"powerhost_battery_temperature_celsius", "Edit32", 1, "Battery temperature."},
    {"powerhost_ambient_temperature_celsius", "Edit18", 1, "Ambient temperature."},
    {"powerhost_ambient_humidity_ratio", "Edit19", 0.01, "Ambient relative humidity, 0 to 1 (the page shows percent)."},
    {"powerhost_rectifier_modules", "Edit33", 1, "Number of rectifier modules the controller reports."},
};

enum F {
  kBuildInfo,
  kMaxAge,
  kReloadOk,
  kReloadTime,
  kInfo,
  kUp,
  kLastPoll,
  kDuration,
  kErrors,
  kFirstMeasurement,
  kAlarm = kFirstMeasurement + int(std::size(kMeasurements)),
  kAcState,
  kBatteryState,
  kRectPresent,
  kRectOn,
  kRectVolts,
  kRectAmperes,
  kRectProtection,
  kRectFan,
  kRectLimiting,
  kFamilies
};

const std::vector<AlarmSeries> kAlarms = {
    {"dc_output_overvoltage", "Shape1"},  {"battery_low_voltage", "Shape2"},
    {"load_overcurrent", "Shape3"},       {"battery_overcurrent", "Shape4"},
    {"battery_overtemperature", "Shape5"}, {"battery_undertemperature", "Shape6"},
    {"load_disconnected", "Shape27"},     {"battery_disconnected", "Shape28"},
    {"ambient_overtemperature", "Shape7"}, {"ambient_undertemperature", "Shape8"},
    {"load_fuse", "Shape21"},             {"battery_fuse", "Shape29"},
    {"module_missing", "Shape10"},        {"surge_protection", "Shape26"},
    {"door", "Shape18"},                  {"water", "Shape17"},
    {"smoke", "Shape16"},                 {"ac_breaker", "Shape22"},
    {"ac_failure", nullptr},  // the AC state lamp: red for over-voltage, under-voltage or power fail
};

const char *const kAcStates[] = {"normal", "overvoltage", "undervoltage", "power_fail"};  // AcCondition order
const char *const kBatteryStates[] = {"test", "fast_charge", "float", "equalize"};      // BatteryState order

const status::Lamp *findLamp(const char *name) {
  for (const status::Lamp &l : status::lamps())
    if (std::strcmp(l.lamp, name) == 0) return &l;
  return nullptr;
}
const status::Measurement *findMeasurement(const char *box) {
  for (const status::Measurement &m : status::measurements())
    if (std::strcmp(m.box, box) == 0) return &m;
  return nullptr;
}
const uint8_t *answerData(const Reading &r, StatusAnswer a) {
  return a == StatusAnswer::Ac ? r.ac.data() : r.system.data();
}

// Writes the lines of one controller: name{controller="NAME"[,key="value"]} value. The
// label values written here are the exporter's own (alarm names, module numbers, bucket
// bounds) and need no escaping; controller names are checked when they are configured.
class Lines {
 public:
  explicit Lines(const std::string &controller) : labels_("{controller=\"" + controller + '"') {}
  void operator()(std::string &out, std::string_view metric, std::string_view v, std::string_view key = {},
                  std::string_view value = {}, std::string_view suffix = {}) const {
    out.append(metric).append(suffix).append(labels_);
    if (!key.empty()) out.append(",").append(key).append("=\"").append(value).append("\"");
    out.append("} ").append(v).append("\n");
  }

 private:
  std::string labels_;
};

std::string fixed(double v, int decimals) {
  char b[64];
  std::snprintf(b, sizeof b, "%.*f", decimals, v);
  return b;
}

}  // namespace

void ControllerState::completed(const Reading &r, double seconds, double now, double steadyNow) {
  up = true;
  reading = r;
  lastPollSeconds = now;
  readAt = steadyNow;
  batteryReported = batteryReported || status::batteryState(r.system[16]).has_value();
  ++polls;
  durationSum += seconds;
  for (std::size_t b = 0; b < kDurationBuckets.size(); ++b)
    if (seconds <= kDurationBuckets[b]) {
      ++buckets[b];
      break;
    }
}

void ControllerState::failed(PollError e) {
  up = false;
  ++errors[static_cast<int>(e)];
}

namespace {
bool young(double readAt, double now, double maxAge) { return now - readAt <= maxAge; }
}  // namespace

bool fresh(const ControllerState &s, double now, double maxAge) { return s.reading && young(s.readAt, now, maxAge); }

namespace {
// The families of a reading after the measurements, in the page's order (from kAlarm on).
struct ReadingFamily {
  const char *name;
  const char *help;
};
const ReadingFamily kReadingFamilies[] = {
    {"powerhost_alarm", "1 while the alarm lamp of the status page is red."},
    {"powerhost_ac_state", "1 for the current AC state."},
    {"powerhost_battery_state", "1 for the current battery charge state; absent until the controller reports one."},
    {"powerhost_rectifier_present", "1 when the controller lists the module (every slot 1..12)."},
    {"powerhost_rectifier_on", "1 when the module is present and switched on."},
    {"powerhost_rectifier_output_voltage_volts", "Module output voltage."},
    {"powerhost_rectifier_output_current_amperes", "Module output current."},
    {"powerhost_rectifier_protection",
     "1 when the module is in protection or reports a fault (over-temperature, over-voltage, short circuit, input "
     "alarm, input power fail)."},
    {"powerhost_rectifier_fan_fault", "1 when the module's fan has failed."},
    {"powerhost_rectifier_current_limiting", "1 while the module limits its current."},
};
static_assert(kAlarm + int(std::size(kReadingFamilies)) == kFamilies);
}  // namespace

const std::vector<Family> &families() {
  static const std::vector<Family> f = [] {
    using S = Family::Scope;
    // every reading family says in its help when it is absent
    static std::vector<std::string> helps;
    const auto stale = [](const char *help) {
      helps.push_back(std::string(help) + " Absent while the controller's last completed poll is older than the max-age.");
      return helps.back().c_str();
    };
    helps.reserve(std::size(kMeasurements) + std::size(kReadingFamilies));
    std::vector<Family> v(kFamilies);
    v[kBuildInfo] = {"powerhost_exporter_build_info", "gauge", "1, with the exporter's version, revision and Qt version.",
                     S::Exporter};
    v[kMaxAge] = {"powerhost_exporter_max_age_seconds", "gauge",
                  "How old a controller's last completed poll may be before its readings are no longer served.",
                  S::Exporter};
    v[kReloadOk] = {"powerhost_config_last_reload_successful", "gauge",
                    "1 when the last reading of the configuration was applied, 0 when it was refused.", S::Exporter};
    v[kReloadTime] = {"powerhost_config_last_reload_success_timestamp_seconds", "gauge",
                      "Unix time the configuration was last applied (at start or at a reload).", S::Exporter};
    v[kInfo] = {"powerhost_controller_info", "gauge",
                "1 for each configured controller, with how it is reached and the labels of the configuration file.",
                S::Controller};
    v[kUp] = {"powerhost_up", "gauge", "1 while the last poll of the controller completed, else 0.", S::Controller};
    v[kLastPoll] = {"powerhost_last_poll_timestamp_seconds", "gauge",
                    "Unix time of the last completed poll; the readings served are from that poll.", S::Controller};
    v[kDuration] = {"powerhost_poll_duration_seconds", "histogram", "Time a completed poll took.", S::Controller};
    v[kErrors] = {"powerhost_poll_errors_total", "counter",
                  "Polls that failed, by reason: no answer in time (or no link), a damaged answer, "
                  "a refused request, an answer too short.",
                  S::Controller};
    for (int i = 0; i < int(std::size(kMeasurements)); ++i)
      v[kFirstMeasurement + i] = {kMeasurements[i].metric, "gauge", stale(kMeasurements[i].help), S::Reading};
    for (int i = 0; i < int(std::size(kReadingFamilies)); ++i)
      v[kAlarm + i] = {kReadingFamilies[i].name, "gauge", stale(kReadingFamilies[i].help), S::Reading};
    return v;
  }();
  return f;
}

const std::vector<AlarmSeries> &alarmSeries() { return kAlarms; }

std::string valueText(double v) { return proto::formatGeneralText(v); }

std::string escapeLabel(const std::string &value) {
  if (value.find_first_of("\\\"\n") == std::string::npos) return value;
  std::string out;
  for (char c : value) {
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

namespace {
// powerhost_controller_info's labels after controller: transport, endpoint, address, then the
// configuration file's in name order.
std::string infoSeries(const ControllerEntry &c) {
  const Target &t = c.target;
  const bool tcp = t.kind == Target::Kind::Tcp;
  const bool v6 = tcp && t.host.find(':') != std::string::npos;
  const std::string endpoint =
      tcp ? (v6 ? "[" + t.host + "]" : t.host) + ":" + std::to_string(t.port) : t.device;
  std::string out = "powerhost_controller_info{controller=\"" + c.name + "\",transport=\"" +
                    (tcp ? "tcp" : "serial") + "\",endpoint=\"" + escapeLabel(endpoint) + "\",address=\"" +
                    std::to_string(t.address) + '"';
  for (const auto &[name, value] : c.labels) out += "," + name + "=\"" + escapeLabel(value) + '"';
  return out + "} 1\n";
}
}  // namespace

namespace {
// What the rendering looks up, found once: each measurement's and lamp's table row, and the
// bucket bounds as text.
struct Lookups {
  const status::Measurement *measurement[std::size(kMeasurements)];
  std::vector<const status::Lamp *> lamp;  // per alarm series; nullptr for the AC state lamp
  std::string bucket[kDurationBuckets.size()];
};
const Lookups &lookups() {
  static const Lookups l = [] {
    Lookups l{};
    for (std::size_t i = 0; i < std::size(kMeasurements); ++i) l.measurement[i] = findMeasurement(kMeasurements[i].box);
    for (const AlarmSeries &a : kAlarms) l.lamp.push_back(a.lamp ? findLamp(a.lamp) : nullptr);
    for (std::size_t b = 0; b < kDurationBuckets.size(); ++b) l.bucket[b] = valueText(kDurationBuckets[b]);
    return l;
  }();
  return l;
}
const char *const kModuleNumbers[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"};
static_assert(std::size(kModuleNumbers) == status::kModules + 1);
}  // namespace

std::vector<std::string> renderController(const ControllerEntry &controller, const ControllerState &s) {
  std::vector<std::string> part(kFamilies);
  const auto &fam = families();
  const Lookups &look = lookups();
  const Lines line(controller.name);
  const auto flag = [](bool b) { return std::string_view(b ? "1" : "0"); };
  part[kInfo] = infoSeries(controller);
  line(part[kUp], fam[kUp].name, flag(s.up));
  if (s.reading) line(part[kLastPoll], fam[kLastPoll].name, fixed(s.lastPollSeconds, 3));

  uint64_t cumulative = 0;
  for (std::size_t b = 0; b < kDurationBuckets.size(); ++b) {
    cumulative += s.buckets[b];
    line(part[kDuration], fam[kDuration].name, std::to_string(cumulative), "le", look.bucket[b], "_bucket");
  }
  line(part[kDuration], fam[kDuration].name, std::to_string(s.polls), "le", "+Inf", "_bucket");
  line(part[kDuration], fam[kDuration].name, fixed(s.durationSum, 6), {}, {}, "_sum");
  line(part[kDuration], fam[kDuration].name, std::to_string(s.polls), {}, {}, "_count");
  for (int e = 0; e < kPollErrors; ++e)
    line(part[kErrors], fam[kErrors].name, std::to_string(s.errors[e]), "reason", pollErrorName(PollError(e)));

  if (!s.reading) return part;  // nothing read yet: no values to show
  const Reading &r = *s.reading;
  for (std::size_t i = 0; i < std::size(kMeasurements); ++i) {
    const status::Measurement *m = look.measurement[i];
    const double v = status::measurementValue(m->encoding, answerData(r, m->answer) + m->offset);
    line(part[kFirstMeasurement + int(i)], kMeasurements[i].metric, valueText(v * kMeasurements[i].scale));
  }
  const status::AcState ac = status::acState(r.ac[4]);
  for (std::size_t a = 0; a < kAlarms.size(); ++a) {
    const status::Lamp *l = look.lamp[a];
    line(part[kAlarm], fam[kAlarm].name, flag(l ? l->raised(answerData(r, l->answer)) : ac.alarm), "alarm", kAlarms[a].alarm);
  }
  for (int i = 0; i < 4; ++i) line(part[kAcState], fam[kAcState].name, flag(int(ac.condition) == i), "state", kAcStates[i]);
  if (s.batteryReported)  // the page's first text is no reading
    for (int i = 0; i < 4; ++i)
      line(part[kBatteryState], fam[kBatteryState].name, flag(int(r.battery) == i), "state", kBatteryStates[i]);
  for (int n = 1; n <= status::kModules; ++n) {
    const status::ModuleRecord &m = r.modules[n];
    const char *module = kModuleNumbers[n];
    line(part[kRectPresent], fam[kRectPresent].name, flag(m.present), "module", module);
    if (!m.present) continue;  // a slot without a module has no values
    const status::ModuleView v = status::moduleView(m);
    line(part[kRectOn], fam[kRectOn].name, flag(v.power == status::ModuleView::Power::On), "module", module);
    line(part[kRectVolts], fam[kRectVolts].name, valueText(v.volts), "module", module);
    line(part[kRectAmperes], fam[kRectAmperes].name, valueText(v.amperes), "module", module);
    line(part[kRectProtection], fam[kRectProtection].name, flag(v.protection), "module", module);
    line(part[kRectFan], fam[kRectFan].name, flag(v.fan), "module", module);
    line(part[kRectLimiting], fam[kRectLimiting].name, flag(v.limiting), "module", module);
  }
  return part;
}

ReadingValues readingValues(const Reading &r) {
  const Lookups &look = lookups();
  double v[std::size(kMeasurements)];
  for (std::size_t i = 0; i < std::size(kMeasurements); ++i) {
    const status::Measurement *m = look.measurement[i];
    v[i] = status::measurementValue(m->encoding, answerData(r, m->answer) + m->offset);
  }
  ReadingValues out;
  out.acVolts = v[0];
  out.dcVolts = v[1];
  out.dcAmperes = v[2];
  out.batteryAmperes = v[3];
  out.batteryCelsius = v[4];
  out.ambientCelsius = v[5];
  out.humidityPercent = v[6];
  out.modules = int(v[7]);
  const status::AcState ac = status::acState(r.ac[4]);
  out.acFailed = ac.condition == status::AcCondition::PowerFail;
  for (std::size_t a = 0; a < kAlarms.size(); ++a) {
    const status::Lamp *l = look.lamp[a];
    if (l ? l->raised(answerData(r, l->answer)) : ac.alarm) out.alarms.push_back(kAlarms[a].alarm);
  }
  return out;
}

MetricsPage::MetricsPage(BuildInfo build, double maxAgeSeconds) : build_(std::move(build)), maxAge_(maxAgeSeconds) {}

void MetricsPage::setControllers(const std::vector<ControllerEntry> &controllers) {
  entries_ = controllers;
  parts_.clear();
  parts_.reserve(entries_.size());
  for (const ControllerEntry &c : entries_) parts_.push_back(renderController(c, ControllerState{}));
  readAt_.assign(entries_.size(), std::nullopt);
  ++generation_;
}

void MetricsPage::update(std::size_t i, const ControllerState &state) {
  if (i >= parts_.size()) return;
  parts_[i] = renderController(entries_[i], state);
  readAt_[i] = state.reading ? std::optional<double>(state.readAt) : std::nullopt;
  ++generation_;
}

void MetricsPage::setMaxAge(double seconds) {
  maxAge_ = seconds;
  ++generation_;
}

void MetricsPage::setReload(bool successful, double lastSuccessSeconds) {
  reloadOk_ = successful;
  reloadSeconds_ = lastSuccessSeconds;
  ++generation_;
}

double MetricsPage::staleAt(double now) const {
  double at = std::numeric_limits<double>::infinity();
  for (const auto &r : readAt_)
    if (r && young(*r, now, maxAge_)) at = std::min(at, *r + maxAge_);
  return at;
}

std::string MetricsPage::exporterPart(std::size_t family) const {
  const std::string &name = families()[family].name;
  switch (family) {
    case kBuildInfo:
      return name + "{version=\"" + escapeLabel(build_.version) + "\",revision=\"" + escapeLabel(build_.revision) +
             "\",qt_version=\"" + escapeLabel(build_.qtVersion) + "\"} 1\n";
    case kMaxAge: return name + " " + valueText(maxAge_) + "\n";
    case kReloadOk: return name + (reloadOk_ ? " 1\n" : " 0\n");
    case kReloadTime: return name + " " + fixed(reloadSeconds_, 3) + "\n";
    default: return {};
  }
}

std::string MetricsPage::text(double now) const {
  std::vector<bool> served(parts_.size());
  std::size_t size = 4096;
  for (std::size_t i = 0; i < parts_.size(); ++i) {
    served[i] = readAt_[i] && young(*readAt_[i], now, maxAge_);
    for (const auto &s : parts_[i]) size += s.size();
  }
  std::string out;
  out.reserve(size);
  const auto &fam = families();
  for (std::size_t f = 0; f < fam.size(); ++f) {
    out += "# HELP ";
    out += fam[f].name;
    out += ' ';
    out += fam[f].help;
    out += "\n# TYPE ";
    out += fam[f].name;
    out += ' ';
    out += fam[f].type;
    out += '\n';
    if (fam[f].scope == Family::Scope::Exporter) {
      out += exporterPart(f);
      continue;
    }
    const bool reading = fam[f].scope == Family::Scope::Reading;
    for (std::size_t i = 0; i < parts_.size(); ++i)
      if (!reading || served[i]) out += parts_[i][f];
  }
  return out;
}

}  // namespace exporter
