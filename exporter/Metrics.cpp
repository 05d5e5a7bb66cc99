#include "exporter/Metrics.h"

#include <cstdio>
#include <cstring>

#include "protocol/Conversions.h"

namespace exporter {

namespace {

// A measurement of the status page and the metric that carries it.
struct MeasurementSeries {
  const char *metric;
  const char *box;  // the page's box
  const char *help;
};
const MeasurementSeries kMeasurements[] = {
    {"powerhost_ac_input_voltage_volts", "Edit14", "AC input voltage."},
    {"powerhost_dc_output_voltage_volts", "Edit16", "DC output (bus) voltage."},
    {"powerhost_dc_output_current_amperes", "Edit15", "DC output (load) current."},
    {"powerhost_battery_current_amperes", "Edit17", "Battery current; negative while the battery discharges."},
    {"powerhost_battery_temperature_celsius", "Edit32", "Battery temperature."},
    {"powerhost_ambient_temperature_celsius", "Edit18", "Ambient temperature."},
    {"powerhost_ambient_humidity_percent", "Edit19", "Ambient relative humidity."},
    {"powerhost_rectifier_modules", "Edit33", "Number of rectifier modules the controller reports."},
};

enum F {
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

// name{controller="NAME"[,key="value"]} value
void sample(std::string &out, const char *metric, const std::string &controller, const char *key,
            const std::string &value, const std::string &v, const char *suffix = "") {
  out += metric;
  out += suffix;
  out += "{controller=\"";
  out += controller;
  out += '"';
  if (key) {
    out += ',';
    out += key;
    out += "=\"";
    out += value;
    out += '"';
  }
  out += "} ";
  out += v;
  out += '\n';
}

std::string fixed(double v, int decimals) {
  char b[64];
  std::snprintf(b, sizeof b, "%.*f", decimals, v);
  return b;
}

}  // namespace

void ControllerState::completed(const Reading &r, double seconds, double now) {
  up = true;
  reading = r;
  lastPollSeconds = now;
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

const std::vector<Family> &families() {
  static const std::vector<Family> f = [] {
    std::vector<Family> v(kFamilies);
    v[kUp] = {"powerhost_up", "gauge", "1 while the last poll of the controller completed, else 0."};
    v[kLastPoll] = {"powerhost_last_poll_timestamp_seconds", "gauge",
                    "Unix time of the last completed poll; the other values are from that poll."};
    v[kDuration] = {"powerhost_poll_duration_seconds", "histogram", "Time a completed poll took."};
    v[kErrors] = {"powerhost_poll_errors_total", "counter",
                  "Polls that failed, by reason: no answer in time (or no link), a damaged answer, "
                  "a refused request, an answer too short."};
    for (int i = 0; i < int(std::size(kMeasurements)); ++i)
      v[kFirstMeasurement + i] = {kMeasurements[i].metric, "gauge", kMeasurements[i].help};
    v[kAlarm] = {"powerhost_alarm", "gauge", "1 while the alarm lamp of the status page is red."};
    v[kAcState] = {"powerhost_ac_state", "gauge", "1 for the current AC state."};
    v[kBatteryState] = {"powerhost_battery_state", "gauge", "1 for the current battery charge state."};
    v[kRectPresent] = {"powerhost_rectifier_present", "gauge", "1 when the controller lists the module."};
    v[kRectOn] = {"powerhost_rectifier_on", "gauge", "1 when the module is present and switched on."};
    v[kRectVolts] = {"powerhost_rectifier_output_voltage_volts", "gauge", "Module output voltage."};
    v[kRectAmperes] = {"powerhost_rectifier_output_current_amperes", "gauge", "Module output current."};
    v[kRectProtection] = {"powerhost_rectifier_protection", "gauge",
                          "1 when the module is in protection or reports a fault (over-temperature, "
                          "over-voltage, short circuit, input alarm, input power fail)."};
    v[kRectFan] = {"powerhost_rectifier_fan_fault", "gauge", "1 when the module's fan has failed."};
    v[kRectLimiting] = {"powerhost_rectifier_current_limiting", "gauge", "1 while the module limits its current."};
    return v;
  }();
  return f;
}

const std::vector<AlarmSeries> &alarmSeries() { return kAlarms; }

std::string valueText(double v) { return proto::formatGeneral(v).toStdString(); }

std::vector<std::string> renderController(const std::string &name, const ControllerState &s) {
  std::vector<std::string> part(kFamilies);
  const auto &fam = families();
  const auto flag = [](bool b) { return std::string(b ? "1" : "0"); };
  sample(part[kUp], fam[kUp].name, name, nullptr, {}, flag(s.up));
  if (s.reading) sample(part[kLastPoll], fam[kLastPoll].name, name, nullptr, {}, fixed(s.lastPollSeconds, 3));

  uint64_t cumulative = 0;
  for (std::size_t b = 0; b < kDurationBuckets.size(); ++b) {
    cumulative += s.buckets[b];
    sample(part[kDuration], fam[kDuration].name, name, "le", valueText(kDurationBuckets[b]), std::to_string(cumulative),
           "_bucket");
  }
  sample(part[kDuration], fam[kDuration].name, name, "le", "+Inf", std::to_string(s.polls), "_bucket");
  sample(part[kDuration], fam[kDuration].name, name, nullptr, {}, fixed(s.durationSum, 6), "_sum");
  sample(part[kDuration], fam[kDuration].name, name, nullptr, {}, std::to_string(s.polls), "_count");
  for (int e = 0; e < kPollErrors; ++e)
    sample(part[kErrors], fam[kErrors].name, name, "reason", pollErrorName(PollError(e)), std::to_string(s.errors[e]));

  if (!s.reading) return part;  // nothing read yet: no values to show
  const Reading &r = *s.reading;
  for (int i = 0; i < int(std::size(kMeasurements)); ++i) {
    const status::Measurement *m = findMeasurement(kMeasurements[i].box);
    sample(part[kFirstMeasurement + i], kMeasurements[i].metric, name, nullptr, {},
           valueText(status::measurementValue(m->encoding, answerData(r, m->answer) + m->offset)));
  }
  const status::AcState ac = status::acState(r.ac[4]);
  for (const AlarmSeries &a : kAlarms) {
    bool set = ac.alarm;
    if (a.lamp) {
      const status::Lamp *l = findLamp(a.lamp);
      set = l->raised(answerData(r, l->answer));
    }
    sample(part[kAlarm], fam[kAlarm].name, name, "alarm", a.alarm, flag(set));
  }
  for (int i = 0; i < 4; ++i)
    sample(part[kAcState], fam[kAcState].name, name, "state", kAcStates[i], flag(int(ac.condition) == i));
  for (int i = 0; i < 4; ++i)
    sample(part[kBatteryState], fam[kBatteryState].name, name, "state", kBatteryStates[i], flag(int(r.battery) == i));
  for (int n = 1; n <= status::kModules; ++n) {
    const status::ModuleRecord &m = r.modules[n];
    const status::ModuleView v = status::moduleView(m);
    const std::string module = std::to_string(n);
    sample(part[kRectPresent], fam[kRectPresent].name, name, "module", module, flag(m.present));
    sample(part[kRectOn], fam[kRectOn].name, name, "module", module, flag(v.power == status::ModuleView::Power::On));
    sample(part[kRectVolts], fam[kRectVolts].name, name, "module", module, valueText(v.volts));
    sample(part[kRectAmperes], fam[kRectAmperes].name, name, "module", module, valueText(v.amperes));
    sample(part[kRectProtection], fam[kRectProtection].name, name, "module", module, flag(v.protection));
    sample(part[kRectFan], fam[kRectFan].name, name, "module", module, flag(v.fan));
    sample(part[kRectLimiting], fam[kRectLimiting].name, name, "module", module, flag(v.limiting));
  }
  return part;
}

MetricsPage::MetricsPage(std::vector<std::string> names) : names_(std::move(names)) {
  parts_.reserve(names_.size());
  for (const std::string &n : names_) parts_.push_back(renderController(n, ControllerState{}));
}

void MetricsPage::update(std::size_t i, const ControllerState &state) {
  if (i < parts_.size()) parts_[i] = renderController(names_[i], state);
}

std::string MetricsPage::text() const {
  std::size_t size = 0;
  for (const auto &p : parts_)
    for (const auto &s : p) size += s.size();
  std::string out;
  out.reserve(size + 4096);
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
    for (const auto &p : parts_) out += p[f];
  }
  return out;
}

}  // namespace exporter
