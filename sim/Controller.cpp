#include "sim/Controller.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace sim {

namespace {

constexpr int64_t kHourMs = 3600LL * 1000;
constexpr int64_t kDayMs = 24 * kHourMs;
constexpr int64_t kLocalOffsetMs = 8 * kHourMs;  // the controller keeps UTC+8

struct CivilTime {
  int year, month, day, hour, minute, second;
  int weekday;  // 1 = Monday .. 7 = Sunday
};

CivilTime civil(int64_t ms) {
  using namespace std::chrono;
  sys_time<milliseconds> t{milliseconds{ms}};
  sys_days d = floor<days>(t);
  year_month_day ymd{d};
  int64_t rest = (ms - duration_cast<milliseconds>(d.time_since_epoch()).count()) / 1000;
  CivilTime c{};
  c.year = int(ymd.year());
  c.month = int(unsigned(ymd.month()));
  c.day = int(unsigned(ymd.day()));
  c.hour = int(rest / 3600);
  c.minute = int(rest / 60 % 60);
  c.second = int(rest % 60);
  c.weekday = int(weekday{d}.iso_encoding());
  return c;
}

std::optional<int64_t> msFromCivil(int year, int month, int day, int hour, int minute, int second) {
  using namespace std::chrono;
  year_month_day ymd{std::chrono::year{year}, std::chrono::month{unsigned(month)}, std::chrono::day{unsigned(day)}};
  if (!ymd.ok()) return std::nullopt;
  int64_t days = sys_days{ymd}.time_since_epoch().count();
  return days * kDayMs + ((hour * 60LL + minute) * 60 + second) * 1000;
}

int daysInMonth(int year, int month) {
  using namespace std::chrono;
  return int(unsigned(year_month_day_last{std::chrono::year{year}, month_day_last{std::chrono::month{unsigned(month)}}}.day()));
}

uint8_t toBcd(int v) { return static_cast<uint8_t>((v / 10) * 16 + v % 10); }
std::optional<int> fromBcd(uint8_t b) {
  if ((b >> 4) > 9 || (b & 0x0F) > 9) return std::nullopt;
  return (b >> 4) * 10 + (b & 0x0F);
}

void put16(std::vector<uint8_t> &out, int v) {
  v = std::clamp(v, 0, 0xFFFF);
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v & 0xFF));
}
// Sign and magnitude: bit 15 set means negative.
void putSigned16(std::vector<uint8_t> &out, int v) {
  int mag = std::min(std::abs(v), 0x7FFF);
  put16(out, v < 0 && mag > 0 ? 0x8000 | mag : mag);
}
void put32(std::vector<uint8_t> &out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}
int signMagnitudeValue(int raw) { return raw > 0x8000 ? -(raw - 0x8000) : raw; }

constexpr uint16_t key(uint8_t cid1, uint8_t cid2) { return static_cast<uint16_t>(cid1 << 8 | cid2); }

constexpr unsigned L1 = 1u << 1, L2 = 1u << 2;

}  // namespace

const std::vector<AlarmName> &alarmNames() {
  static const std::vector<AlarmName> names = {
      {"output-over-voltage", 13, 0x10}, {"battery-low", 13, 0x04},     {"load-over-current", 13, 0x02},
      {"load-disconnect", 13, 0x01},     {"battery-disconnect", 14, 0x40}, {"ambient-high", 14, 0x20},
      {"ambient-low", 14, 0x10},         {"module-missing", 14, 0x08},  {"load-fuse", 14, 0x04},
      {"battery-fuse", 14, 0x02},        {"battery-over-current", 14, 0x01}, {"battery-hot", 15, 0x40},
      {"battery-cold", 15, 0x20},        {"lightning", 17, 0x08},       {"door", 17, 0x04},
      {"water", 17, 0x02},               {"smoke", 17, 0x01},           {"ac-breaker", 0, 0x20},
      {"ac-over-voltage", 0, 0x04},      {"ac-under-voltage", 0, 0x02}, {"ac-power-fail", 0, 0x01},
  };
  return names;
}

bool Controller::setAlarm(const std::string &name, bool raised) {
  for (const AlarmName &a : alarmNames()) {
    if (name != a.name) continue;
    uint8_t &bits = a.byte == 0 ? config_.alarms.ac : config_.alarms.status[a.byte - 13];
    bits = raised ? uint8_t(bits | a.mask) : uint8_t(bits & ~a.mask);
    return true;
  }
  return false;
}

int64_t systemUtcMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Every parameter of both parameter pages. Values are the raw wire values (the shown
// value times the row's scale); ranges are what a careful controller accepts.
const std::vector<Controller::ParamDef> &Controller::parameterTable() {
  static const std::vector<ParamDef> table = {
      // cid1, write, read, readBytes, writeLengths, default, min, max, signMagnitude
      {0x40, 0x05, 0x06, 2, L2, 2800, 2000, 3200, false},  // AC over-voltage, 0.1 V
      {0x40, 0x07, 0x08, 2, L2, 1800, 1000, 2200, false},  // AC under-voltage, 0.1 V
      {0x40, 0x09, 0x0A, 2, L2, 800, 0, 1800, false},      // AC power fail, 0.1 V
      {0x40, 0x0B, 0x0C, 2, L2, 300, 0, 2000, false},      // AC over-current, 0.1 A
      {0x41, 0x14, 0x15, 2, L2, 500, 10, 2000, false},     // module current limit, 0.1 A
      {0x42, 0x22, 0x23, 2, L2, 1000, 0, 10000, false},    // load over-current, 0.1 A
      {0x42, 0x24, 0x25, 2, L2, 500, 0, 10000, false},     // battery over-current, 0.1 A
      {0x42, 0x26, 0x27, 2, L2, 5800, 4000, 6000, false},  // output over-voltage, 0.01 V
      {0x42, 0x28, 0x29, 2, L2, 4500, 4000, 6000, false},  // battery low voltage, 0.01 V
      {0x42, 0x32, 0x33, 2, L2, 4400, 4000, 6000, false},  // load disconnect, 0.01 V
      {0x42, 0x34, 0x35, 2, L2, 4800, 4000, 6000, false},  // load reconnect, 0.01 V
      {0x42, 0x36, 0x37, 2, L2, 4300, 4000, 6000, false},  // battery disconnect, 0.01 V
      {0x42, 0x38, 0x39, 2, L2, 4700, 4000, 6000, false},  // battery reconnect, 0.01 V
      {0x42, 0x3A, 0x3B, 2, L2, 5350, 4200, 5800, false},  // float voltage, 0.01 V
      {0x42, 0x4C, 0x4D, 2, L2, 5640, 4200, 5800, false},  // equalize voltage, 0.01 V
      {0x42, 0x78, 0x79, 2, L2, 10, 0, 1000, false},       // equalize-to-float, 0.1 %
      {0x42, 0x7A, 0x7B, 2, L2, 50, 0, 1000, false},       // float-to-equalize, 0.1 %
      {0x42, 0x40, 0x41, 2, L2, 100, 0, 1000, false},      // charge current limit, 0.1 %
      {0x42, 0x3C, 0x3D, 1, L1, 1, 0, 1, false},           // temperature compensation on
      {0x42, 0x3E, 0x3F, 2, L2, 72, 0, 500, false},        // compensation, mV/C
      {0x42, 0x4E, 0x00, 1, L1, 0, 0, 1, false},           // manual equalize (write only)
      {0x42, 0x46, 0x47, 1, L1, 1, 0, 1, false},           // periodic equalize on
      {0x42, 0x48, 0x49, 2, L2, 90, 1, 999, false},        // periodic interval, days
      {0x42, 0x4A, 0x4B, 2, L2, 600, 1, 5999, false},      // equalize duration, minutes
      {0x42, 0x80, 0x81, 1, L1, 1, 0, 2, false},           // buzzer: off, on, off this time
      {0x42, 0x00, 0x21, 1, 0, 1, 0, 2, false},            // display language (1 Chinese, 2 English)
      {0x42, 0x56, 0x57, 2, L2, 200, 1, 10000, false},     // battery capacity, AH
      {0x42, 0x58, 0x59, 2, L2, 1000, 0, 1000, false},     // capacity kept, 0.1 %
      {0x42, 0x91, 0x92, 1, L1, 0, 0, 1, false},           // sleep mode on
      {0x42, 0x93, 0x94, 1, L1 | L2, 24, 0, 255, false},   // sleep interval, hours (one byte)
      {0x42, 0x44, 0x45, 2, L2, 4500, 4000, 6000, false},  // current-limit minimum voltage
      {0x42, 0x5A, 0x5B, 1, L1, 0, 0, 1, false},           // battery test on
      {0x42, 0x5C, 0x5D, 2, L2, 5200, 4000, 6000, false},  // battery test start voltage
      {0x42, 0x5E, 0x5F, 2, L2, 4600, 4000, 6000, false},  // battery test end voltage
      {0x42, 0x50, 0x51, 1, L1, 0, 0, 1, false},           // fast charge on
      {0x42, 0x52, 0x53, 2, L2, 5640, 4200, 5800, false},  // fast charge voltage
      {0x42, 0x54, 0x55, 2, L2, 120, 0, 9999, false},      // fast charge time, minutes
      {0x42, 0x2A, 0x2B, 2, L2, 0x8032, -400, 200, true},  // battery low temperature, 0.1 C
      {0x42, 0x2C, 0x2D, 2, L2, 450, 0, 1000, false},      // battery high temperature, 0.1 C
      {0x42, 0x70, 0x71, 2, L2, 10000, 0, 65535, false},   // battery current gain
      {0x42, 0x72, 0x73, 2, L2, 0, 0, 65535, false},       // battery current offset
      {0x42, 0x74, 0x75, 2, L2, 10000, 0, 65535, false},   // bus voltage gain
      {0x42, 0x76, 0x77, 2, L2, 10000, 0, 65535, false},   // load current gain
      {0x42, 0x18, 0x19, 2, L2, 10000, 0, 65535, false},   // battery temperature gain
      {0x42, 0x1A, 0x1B, 2, L2, 0, 0, 65535, false},       // battery temperature offset
      {0x42, 0x1C, 0x1D, 2, L2, 10000, 0, 65535, false},   // ambient temperature gain
      {0x42, 0x1E, 0x1F, 2, L2, 0, 0, 65535, false},       // ambient temperature offset
      {0x42, 0x7E, 0x7F, 2, L2, 10000, 0, 65535, false},   // AC voltage gain
      {0x42, 0x7C, 0x7D, 2, L2, 0, 0, 65535, false},       // AC voltage offset
      {0x42, 0x89, 0x8A, 2, L2, 0, 0, 65535, false},       // load current offset
      {0x42, 0x60, 0x61, 2, L2, 3, 0, 12, false},          // configured module count
  };
  return table;
}

Controller::Controller(ControllerConfig config, UtcClock clock)
    : config_(std::move(config)), clock_(std::move(clock)), rng_(config_.seed),
      alarmRng_(config_.seed ^ 0xA1A2A3A4u) {
  for (const auto &d : parameterTable()) params_[key(d.cid1, d.readCid2 ? d.readCid2 : d.writeCid2)] = d.defaultRaw;

  std::vector<int> numbers = config_.modules;
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  for (int n : numbers) {
    if (n < 1 || n > 12) continue;
    modules_.push_back({n, true, rng_.range(-5, 5)});
  }
  params_[key(0x42, 0x61)] = static_cast<int>(modules_.size());

  // History: index 0 is the oldest record, the last index the newest.
  const int64_t now = controllerLocalMs();
  int64_t t = now;
  records_.resize(static_cast<std::size_t>(std::clamp(config_.records, 0, 0xFFFF)));
  if (!config_.history.empty()) records_.clear();
  for (auto it = records_.rbegin(); it != records_.rend(); ++it) {
    t -= rng_.range(600, 72 * 3600) * 1000LL;
    const CivilTime c = civil(t);
    Record &r = *it;
    r.bcd[0] = toBcd(c.year % 100);
    r.bcd[1] = toBcd(c.month);
    r.bcd[2] = toBcd(c.day);
    r.bcd[3] = toBcd(c.hour);
    r.bcd[4] = toBcd(c.minute);
    r.bcd[5] = toBcd(c.second);
    r.type = static_cast<uint8_t>(rng_.range(1, 8));
    if (r.type == 1) r.code = static_cast<uint8_t>(rng_.range(1, 13));
    else if (r.type == 2) r.code = static_cast<uint8_t>(rng_.range(1, 8));
    else if (r.type == 3) r.code = static_cast<uint8_t>(rng_.range(1, 9));
    else r.code = static_cast<uint8_t>(modules_.empty() ? rng_.range(1, 12)
                                                        : modules_[rng_.next() % modules_.size()].number);
  }

  for (const auto &h : config_.history) {
    if (records_.size() >= 0xFFFF) break;
    Record r;
    std::copy(h.begin(), h.begin() + 6, r.bcd);
    r.type = h[6];
    r.code = h[7];
    records_.push_back(r);
  }

  // Energy: four users with their own daily consumption.
  const double typical[4] = {30.0, 18.0, 42.0, 10.0};
  for (int u = 0; u < 4; ++u) {
    dailyKwh_[u] = typical[u] * (0.8 + 0.4 * rng_.uniform());
    energyBase_[u] = static_cast<uint32_t>(dailyKwh_[u] * 10 * 365 * (2 + 3 * rng_.uniform()));
  }

  lastAdvanceMs_ = clock_();
  m_.busV = raw(0x42, 0x3B) / 100.0;
}

int64_t Controller::controllerLocalMs() const { return clock_() + kLocalOffsetMs + clockOffsetMs_; }

std::optional<int> Controller::parameter(uint8_t cid1, uint8_t readCid2) const {
  auto it = params_.find(key(cid1, readCid2));
  if (it == params_.end()) return std::nullopt;
  return it->second;
}

int Controller::raw(uint8_t cid1, uint8_t readCid2) const { return params_.at(key(cid1, readCid2)); }

const Controller::Module *Controller::findModule(int n) const {
  for (const auto &m : modules_)
    if (m.number == n) return &m;
  return nullptr;
}
Controller::Module *Controller::findModule(int n) {
  return const_cast<Module *>(static_cast<const Controller *>(this)->findModule(n));
}
bool Controller::modulePresent(int n) const { return findModule(n) != nullptr; }
bool Controller::moduleOn(int n) const {
  const Module *m = findModule(n);
  return m && m->on;
}
int Controller::modulesOn() const {
  return static_cast<int>(std::count_if(modules_.begin(), modules_.end(), [](const Module &m) { return m.on; }));
}

// A module is named by its plain number in every command, as in the module list: module 10
// is 0x0A (the host numbers its requests the same way).
int Controller::moduleFromRequest(uint8_t byte) const { return findModule(byte) ? byte : -1; }

uint8_t Controller::alarmBits(int byte) {
  uint8_t bits = byte == 0 ? config_.alarms.ac : config_.alarms.status[byte - 13];
  if (config_.alarmRate > 0)
    for (const AlarmName &a : alarmNames())
      if (a.byte == byte && alarmRng_.uniform() < config_.alarmRate) bits |= a.mask;
  return bits;
}

bool Controller::equalizing(int64_t nowLocalMs) const { return nowLocalMs < equalizeUntilLocalMs_; }

// The measurements follow their targets with a little noise, one step per elapsed second.
void Controller::advance() {
  int64_t now = clock_();
  int64_t steps = (now - lastAdvanceMs_) / 1000;
  if (steps <= 0) return;
  lastAdvanceMs_ += steps * 1000;
  steps = std::min<int64_t>(steps, 600);

  const bool eq = equalizing(controllerLocalMs());
  const int on = modulesOn();
  for (int64_t i = 0; i < steps; ++i) {
    m_.loadA += (24.0 - m_.loadA) * 0.02 + 0.4 * rng_.symmetric();
    m_.battTemp += (25.0 - m_.battTemp) * 0.01 + 0.05 * rng_.symmetric();
    m_.ambTemp += (26.0 - m_.ambTemp) * 0.01 + 0.08 * rng_.symmetric();
    m_.humidity += (45.0 - m_.humidity) * 0.02 + 0.3 * rng_.symmetric();
    m_.acV += (220.0 - m_.acV) * 0.05 + 0.8 * rng_.symmetric();
    m_.acA += (6.0 - m_.acA) * 0.05 + 0.1 * rng_.symmetric();
    double targetV, targetBatt;
    if (on == 0) {  // no rectifier running: the battery carries the load
      targetV = 50.5;
      targetBatt = -m_.loadA;
    } else {
      targetV = (eq ? raw(0x42, 0x4D) : raw(0x42, 0x3B)) / 100.0;
      if (raw(0x42, 0x3D) != 0) targetV -= raw(0x42, 0x3F) / 1000.0 * (m_.battTemp - 25.0);
      targetBatt = eq ? 5.0 : 1.2;
    }
    m_.busV += (targetV - m_.busV) * 0.2 + 0.02 * rng_.symmetric();
    m_.battA += (targetBatt - m_.battA) * 0.2 + 0.1 * rng_.symmetric();
  }
  m_.loadA = std::max(0.0, m_.loadA);
  m_.humidity = std::clamp(m_.humidity, 5.0, 95.0);
}

std::string Controller::encode(const Reply &reply) const {
  return proto::encodeFrame(config_.address, reply.cid1, reply.rtn, reply.data);
}

std::optional<std::string> Controller::answer(std::string_view requestFrame) {
  proto::FrameParse p = proto::parseFrame(requestFrame);
  if (p.error != proto::FrameError::None) return std::nullopt;
  if (p.frame.adr != config_.address) return std::nullopt;
  return encode(handle(p.frame));
}

Reply Controller::handle(const proto::Frame &f) {
  const uint8_t c1 = f.cid1, c2 = f.cid2OrRtn;
  for (const auto &d : parameterTable()) {
    if (d.cid1 != c1) continue;
    if (d.readCid2 && d.readCid2 == c2) return handleParameter(f, d, false);
    if (d.writeCid2 && d.writeCid2 == c2) return handleParameter(f, d, true);
  }
  switch (key(c1, c2)) {
    case key(0x42, 0x16): return systemStatus(c1);
    case key(0x43, 0x2A): return systemStatus(c1);  // the hidden status read
    case key(0x40, 0x01): return acStatus();
    case key(0x42, 0x17): return moduleList();
    case key(0x41, 0x0E): return moduleReadings(f);
    case key(0x41, 0x10): return moduleSwitch(f, true);
    case key(0x41, 0x11): return moduleSwitch(f, false);
    case key(0x42, 0x8D): return readClock();
    case key(0x42, 0x8E): return setClock(f);
    case key(0x42, 0x85):
    case key(0x42, 0x86):
    case key(0x42, 0x87):
    case key(0x42, 0x88): return dryContact(f);
    case key(0x42, 0x90): {  // the request's data (a fixed pattern) is not needed
      std::vector<uint8_t> d;
      put16(d, recordCount());
      return ok(c1, d);
    }
    case key(0x42, 0x8F): return historyRecord(f);
    case key(0x42, 0x95):
      if (!f.data.empty()) return refuse(c1, kRtnBadLength);
      records_.clear();
      return ok(c1);
    case key(0x44, 0x0D):
    case key(0x44, 0x0E):
    case key(0x44, 0x0F):
    case key(0x44, 0x10): return energyTotal(c2);
    case key(0x44, 0x01): return energyMonth(f);
    default: return refuse(c1, kRtnUnknownCommand);
  }
}

Reply Controller::handleParameter(const proto::Frame &f, const ParamDef &d, bool write) {
  const uint16_t k = key(d.cid1, d.readCid2 ? d.readCid2 : d.writeCid2);
  if (!write) {
    // A read carries no data of its own; stray data is ignored.
    int v = params_.at(k);
    std::vector<uint8_t> out;
    if (d.readBytes == 1) out.push_back(static_cast<uint8_t>(v));
    else put16(out, v);
    return ok(d.cid1, out);
  }
  const std::size_t n = f.data.size();
  if (n > 2 || !(d.writeLengths & (1u << n))) return refuse(d.cid1, kRtnBadLength);
  int v = n == 1 ? f.data[0] : f.data[0] * 256 + f.data[1];
  int value = d.signMagnitude ? signMagnitudeValue(v) : v;
  if (d.signMagnitude && v == 0x8000) return refuse(d.cid1, kRtnBadData);
  if (value < d.minValue || value > d.maxValue) return refuse(d.cid1, kRtnBadData);
  params_[k] = v;
  if (d.cid1 == 0x42 && d.writeCid2 == 0x4E) {  // manual equalize: start or stop now
    int64_t now = controllerLocalMs();
    equalizeUntilLocalMs_ = v ? now + raw(0x42, 0x4B) * 60000LL : 0;
  }
  return ok(d.cid1);
}

Reply Controller::systemStatus(uint8_t cid1) {
  advance();
  const int busCv = static_cast<int>(std::lround(m_.busV * 100));
  const int battDa = static_cast<int>(std::lround(m_.battA * 10));
  const int loadDa = static_cast<int>(std::lround(m_.loadA * 10));
  const int battT = static_cast<int>(std::lround(m_.battTemp * 10));
  const int ambT = static_cast<int>(std::lround(m_.ambTemp * 10));
  std::vector<uint8_t> d;
  put16(d, busCv);
  putSigned16(d, battDa);
  put16(d, loadDa);
  putSigned16(d, battT);
  putSigned16(d, ambT);
  d.push_back(static_cast<uint8_t>(modules_.size()));
  put16(d, static_cast<int>(std::lround(m_.humidity * 10)));

  uint8_t b13 = 0, b14 = 0, b15 = 0, b16 = 0;
  if (busCv > raw(0x42, 0x27)) b13 |= 0x10;                       // output over-voltage
  if (busCv < raw(0x42, 0x29)) b13 |= 0x04;                       // battery low
  if (loadDa > raw(0x42, 0x23)) b13 |= 0x02;                      // load over-current
  if (busCv < raw(0x42, 0x33)) b13 |= 0x01;                       // load disconnected
  if (busCv < raw(0x42, 0x37)) b14 |= 0x40;                       // battery disconnected
  if (ambT > 400) b14 |= 0x20;                                    // ambient over 40 C
  if (ambT < 0) b14 |= 0x10;                                      // ambient below 0 C
  if (static_cast<int>(modules_.size()) < raw(0x42, 0x61)) b14 |= 0x08;  // module missing
  if (std::abs(battDa) > raw(0x42, 0x25)) b14 |= 0x01;            // battery over-current
  if (battT > raw(0x42, 0x2D)) b15 |= 0x40;                       // battery over-temperature
  if (battT < signMagnitudeValue(raw(0x42, 0x2B))) b15 |= 0x20;   // battery low temperature
  b16 = equalizing(controllerLocalMs()) ? 0x10 : 0x04;            // equalize or float
  d.push_back(b13 | alarmBits(13));
  d.push_back(b14 | alarmBits(14));
  d.push_back(b15 | alarmBits(15));
  d.push_back(b16);
  d.push_back(alarmBits(17));  // lightning protection, door, water, smoke: quiet unless raised
  return ok(cid1, d);
}

Reply Controller::acStatus() {
  advance();
  const int acDv = static_cast<int>(std::lround(m_.acV * 10));
  std::vector<uint8_t> d;
  put16(d, acDv);
  put16(d, static_cast<int>(std::lround(m_.acA * 10)));
  uint8_t state = 0;
  if (acDv > raw(0x40, 0x06)) state |= 0x04;
  if (acDv < raw(0x40, 0x08)) state |= 0x02;
  if (acDv < raw(0x40, 0x0A)) state |= 0x01;
  d.push_back(state | alarmBits(0));
  return ok(0x40, d);
}

Reply Controller::moduleList() {
  std::vector<uint8_t> d;
  for (const auto &m : modules_) d.push_back(static_cast<uint8_t>(m.number));
  return ok(0x42, d);
}

Reply Controller::moduleReadings(const proto::Frame &f) {
  if (f.data.size() != 1) return refuse(0x41, kRtnBadLength);
  int n = moduleFromRequest(f.data[0]);
  if (n < 0) return refuse(0x41, kRtnBadData);
  advance();
  const Module &m = *findModule(n);
  const int on = modulesOn();
  int volts = 0, amps = 0;
  uint8_t status = 0;
  if (m.on) {
    volts = static_cast<int>(std::lround(m_.busV * 100)) + m.trimCentivolts;
    amps = static_cast<int>(std::lround((m_.loadA + std::max(0.0, m_.battA)) / on * 100));
    if (amps > raw(0x41, 0x15) * 10) status |= 0x01;  // current limiting
  } else {
    status |= 0x04;
  }
  std::vector<uint8_t> d;
  d.push_back(static_cast<uint8_t>(n));
  put16(d, volts);
  put16(d, amps);
  d.push_back(m.on ? 1 : 0);  // bytes 5..8: on flag, temperature (C), two spare bytes
  d.push_back(static_cast<uint8_t>(std::lround(m_.ambTemp + (m.on ? 12 : 0))));
  d.push_back(0);
  d.push_back(0);
  uint8_t fault = 0;
  if (auto it = config_.moduleFaults.find(n); it != config_.moduleFaults.end()) {
    fault = it->second.code;
    status |= it->second.status;
  }
  d.push_back(status);
  d.push_back(fault);
  return ok(0x41, d);
}

Reply Controller::moduleSwitch(const proto::Frame &f, bool on) {
  if (f.data.size() != 1) return refuse(0x41, kRtnBadLength);
  int n = moduleFromRequest(f.data[0]);
  if (n < 0) return refuse(0x41, kRtnBadData);
  advance();
  findModule(n)->on = on;
  return ok(0x41);
}

Reply Controller::readClock() {
  CivilTime c = civil(controllerLocalMs());
  std::vector<uint8_t> d = {uint8_t(c.second), uint8_t(c.minute), uint8_t(c.hour), uint8_t(c.day),
                            uint8_t(c.weekday), uint8_t(c.month), uint8_t(c.year % 100)};
  return ok(0x42, d);
}

Reply Controller::setClock(const proto::Frame &f) {
  if (f.data.size() != 7) return refuse(0x42, kRtnBadLength);
  const auto &b = f.data;
  if (b[0] > 59 || b[1] > 59 || b[2] > 23 || b[4] > 7 || b[6] > 99) return refuse(0x42, kRtnBadData);
  auto ms = msFromCivil(2000 + b[6], b[5], b[3], b[2], b[1], b[0]);
  if (!ms || b[5] < 1 || b[5] > 12 || b[3] < 1) return refuse(0x42, kRtnBadData);
  // The clock keeps running from the time set; the weekday follows from the date.
  clockOffsetMs_ = *ms - (clock_() + kLocalOffsetMs);
  return ok(0x42);
}

Reply Controller::dryContact(const proto::Frame &f) {
  const bool read = f.cid2OrRtn == 0x86 || f.cid2OrRtn == 0x88;
  const bool type = f.cid2OrRtn == 0x87 || f.cid2OrRtn == 0x88;
  if (f.data.size() != (read ? 1u : 2u)) return refuse(0x42, kRtnBadLength);
  int contact = f.data[0];
  if (contact < 1 || contact > 4) return refuse(0x42, kRtnBadData);
  uint8_t &slot = type ? contactType_[contact - 1] : contactState_[contact - 1];
  if (read) return ok(0x42, {uint8_t(contact), slot});
  if (f.data[1] > (type ? 18 : 1)) return refuse(0x42, kRtnBadData);
  slot = f.data[1];
  return ok(0x42);
}

Reply Controller::historyRecord(const proto::Frame &f) {
  if (f.data.size() != 2) return refuse(0x42, kRtnBadLength);
  std::size_t index = f.data[0] * 256u + f.data[1];
  // An index beyond the stored records gets an empty record (all zero: no date).
  if (index >= records_.size()) return ok(0x42, std::vector<uint8_t>(8, 0));
  const Record &r = records_[index];
  std::vector<uint8_t> d(r.bcd, r.bcd + 6);
  d.push_back(r.type);
  d.push_back(r.code);
  return ok(0x42, d);
}

// A full month's consumption of one user: the user's daily figure, the month's days and a
// spread of +-15 % that depends only on the seed, the user and the month.
uint32_t Controller::monthEnergy(int user, int year, int month) const {
  Rng r(config_.seed * 1000003u + static_cast<uint64_t>(user * 100000 + year * 12 + month));
  double kwh = dailyKwh_[user] * daysInMonth(year, month) * (0.85 + 0.3 * r.uniform());
  return static_cast<uint32_t>(std::lround(kwh * 10));
}

namespace {
// Shares of the four values in whole percent, summing to 100 (largest remainder).
std::vector<uint8_t> percentages(const uint32_t v[4]) {
  double sum = 0;
  for (int u = 0; u < 4; ++u) sum += v[u];
  std::vector<uint8_t> p(4, 0);
  if (sum <= 0) return {25, 25, 25, 25};
  int given = 0;
  double rest[4];
  for (int u = 0; u < 4; ++u) {
    double exact = v[u] * 100.0 / sum;
    p[u] = static_cast<uint8_t>(std::floor(exact));
    rest[u] = exact - p[u];
    given += p[u];
  }
  while (given < 100) {
    int best = static_cast<int>(std::max_element(rest, rest + 4) - rest);
    ++p[best];
    rest[best] = -1;
    ++given;
  }
  return p;
}
}  // namespace

Reply Controller::energyTotal(uint8_t cid2) {
  const int64_t now = controllerLocalMs();
  const CivilTime c = civil(now);
  const double dayFraction = ((c.hour * 60 + c.minute) * 60 + c.second) / 86400.0;
  uint32_t v[4];
  for (int u = 0; u < 4; ++u) {
    const uint32_t today = static_cast<uint32_t>(std::lround(dailyKwh_[u] * 10 * dayFraction));
    const uint32_t month = static_cast<uint32_t>(std::lround(dailyKwh_[u] * 10 * (c.day - 1))) + today;
    uint32_t year = month;
    for (int m = 1; m < c.month; ++m) year += monthEnergy(u, c.year, m);
    switch (cid2) {
      case 0x0E: v[u] = today; break;
      case 0x0F: v[u] = month; break;
      case 0x10: v[u] = year; break;
      default: v[u] = energyBase_[u] + year; break;
    }
  }
  std::vector<uint8_t> d;
  for (uint32_t x : v) put32(d, x);
  for (uint8_t p : percentages(v)) d.push_back(p);
  return ok(0x44, d);
}

// One of the last twelve full months: the given month of this year when it is already
// over, else of last year (the current month counts as last year's).
Reply Controller::energyMonth(const proto::Frame &f) {
  if (f.data.size() != 1) return refuse(0x44, kRtnBadLength);
  auto month = fromBcd(f.data[0]);
  if (!month || *month < 1 || *month > 12) return refuse(0x44, kRtnBadData);
  const CivilTime c = civil(controllerLocalMs());
  const int year = *month < c.month ? c.year : c.year - 1;
  uint32_t v[4];
  for (int u = 0; u < 4; ++u) v[u] = monthEnergy(u, year, *month);
  std::vector<uint8_t> d;
  d.push_back(f.data[0]);
  for (uint32_t x : v) put32(d, x);
  for (uint8_t p : percentages(v)) d.push_back(p);
  d.push_back(static_cast<uint8_t>(c.year - 2000));
  d.push_back(static_cast<uint8_t>(c.month));
  return ok(0x44, d);
}

}  // namespace sim
