// The simulated monitoring controller: its parameters, clock, dry contacts, live
// measurements, rectifier modules, alarm history and energy counters, and the answer it
// gives to each request frame. No I/O here: the links (Server) feed it frames, and time
// comes from a clock function, so given the same clock and seed it behaves the same way.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/Frame.h"
#include "sim/Rng.h"

namespace sim {

// Return codes of the controller's answers.
enum Rtn : uint8_t {
  kRtnOk = 0x00,
  kRtnFailed = 0x01,         // the controller failed the request (only when injected)
  kRtnUnknownCommand = 0x04, // CID1/CID2 not served
  kRtnBadLength = 0x05,      // data length wrong for the command
  kRtnBadData = 0x06,        // value out of range, unknown module, contact or month
};

// Alarm bits held raised on demand, besides those the measurements raise.
struct ForcedAlarms {
  uint8_t status[5] = {};  // data bytes 13..17 of the status answer (16, the charge state, unused)
  uint8_t ac = 0;          // the AC state byte
};
// A rectifier module's fault on demand: its fault code and status bits added to its own.
struct ModuleFault {
  uint8_t code = 0;
  uint8_t status = 0;
};

struct ControllerConfig {
  ControllerConfig(uint8_t address = 1, std::vector<int> modules = {1, 2, 3}, int records = 10, uint64_t seed = 1,
                   std::vector<std::array<uint8_t, 8>> history = {})
      : address(address), modules(std::move(modules)), records(records), seed(seed), history(std::move(history)) {}
  uint8_t address;
  std::vector<int> modules;  // present rectifier modules, 1..12
  int records;               // history records at start, 0..65535
  uint64_t seed;
  // When not empty, the history itself, index 0 first, instead of `records` generated ones:
  // the six BCD date bytes, the type and the code, as the controller sends them.
  std::vector<std::array<uint8_t, 8>> history;
  ForcedAlarms alarms;
  std::map<int, ModuleFault> moduleFaults;  // by module number
  double alarmRate = 0;  // each named alarm is raised in an answer with this chance (seeded)
};

// The alarms a test or an operator can raise by name: where each sits in the status answer
// (data byte 13..17) or in the AC state (byte 0 here), and its bit.
struct AlarmName {
  const char *name;
  int byte;
  uint8_t mask;
};
const std::vector<AlarmName> &alarmNames();

// Milliseconds since 1970-01-01 00:00 UTC.
using UtcClock = std::function<int64_t()>;
int64_t systemUtcMs();

struct Reply {
  uint8_t cid1 = 0;  // echoed in the second header byte
  uint8_t rtn = kRtnOk;
  std::vector<uint8_t> data;
};

class Controller {
 public:
  explicit Controller(ControllerConfig config, UtcClock clock = systemUtcMs);

  // The answer frame to one request frame ("~" ... carriage return, leading garbage
  // allowed), or nothing: a damaged frame or another address gets no answer.
  std::optional<std::string> answer(std::string_view requestFrame);

  // The answer to a request that has already been read and addressed to this controller.
  Reply handle(const proto::Frame &request);

  // Encodes a reply from this controller.
  std::string encode(const Reply &reply) const;

  uint8_t address() const { return config_.address; }
  // Raises or clears an alarm of alarmNames() from now on, as --alarms holds one; false for
  // a name not there.
  bool setAlarm(const std::string &name, bool raised);

  // For tests and logs.
  std::optional<int> parameter(uint8_t cid1, uint8_t readCid2) const;
  bool modulePresent(int n) const;
  bool moduleOn(int n) const;
  int recordCount() const { return static_cast<int>(records_.size()); }
  int64_t controllerLocalMs() const;  // the controller's clock, local time (UTC+8 unless set)

  struct ParamDef {
    uint8_t cid1;
    uint8_t writeCid2;  // 0: read only
    uint8_t readCid2;   // 0: write only
    int readBytes;      // 1 or 2
    unsigned writeLengths;  // bit n set: a write of n data bytes is accepted
    int defaultRaw;
    int minValue, maxValue;  // accepted range of the value (signed for the sign-magnitude row)
    bool signMagnitude;
  };
  static const std::vector<ParamDef> &parameterTable();

 private:
  struct Module {
    int number = 0;
    bool on = true;
    int trimCentivolts = 0;  // small spread between the modules' voltages
  };
  struct Record {
    uint8_t bcd[6];  // year, month, day, hour, minute, second
    uint8_t type, code;
  };
  struct Measurements {
    double busV = 53.5, loadA = 24.0, battA = 1.2, battTemp = 25.0, ambTemp = 26.0,
           humidity = 45.0, acV = 220.0, acA = 6.0;
  };

  Reply ok(uint8_t cid1, std::vector<uint8_t> data = {}) const { return {cid1, kRtnOk, std::move(data)}; }
  Reply refuse(uint8_t cid1, Rtn rtn) const { return {cid1, rtn, {}}; }

  Reply handleParameter(const proto::Frame &f, const ParamDef &def, bool write);
  Reply systemStatus(uint8_t cid1);
  Reply acStatus();
  Reply moduleList();
  Reply moduleReadings(const proto::Frame &f);
  Reply moduleSwitch(const proto::Frame &f, bool on);
  Reply readClock();
  Reply setClock(const proto::Frame &f);
  Reply dryContact(const proto::Frame &f);
  Reply historyRecord(const proto::Frame &f);
  Reply energyTotal(uint8_t cid2);
  Reply energyMonth(const proto::Frame &f);

  int raw(uint8_t cid1, uint8_t readCid2) const;
  int moduleFromRequest(uint8_t byte) const;  // -1 when not a present module
  uint8_t alarmBits(int byte);                // raised on demand: status byte 13..17, 0 for AC
  Module *findModule(int n);
  const Module *findModule(int n) const;
  int modulesOn() const;
  bool equalizing(int64_t nowLocalMs) const;
  void advance();  // moves the measurements on to the current time
  uint32_t monthEnergy(int user, int year, int month) const;  // 0.1 kWh, a full month

  ControllerConfig config_;
  UtcClock clock_;
  Rng rng_;
  Rng alarmRng_;  // the random alarms draw apart, so they leave the measurements as they are
  std::map<uint16_t, int> params_;  // key cid1 << 8 | readCid2 (or writeCid2 for write-only)
  int64_t clockOffsetMs_ = 0;       // set by the clock command
  uint8_t contactType_[4] = {1, 3, 4, 9};
  uint8_t contactState_[4] = {0, 0, 0, 0};
  std::vector<Module> modules_;
  std::vector<Record> records_;
  Measurements m_;
  int64_t lastAdvanceMs_ = 0;
  int64_t equalizeUntilLocalMs_ = 0;  // manual equalize charge running until then
  double dailyKwh_[4] = {};
  uint32_t energyBase_[4] = {};       // 0.1 kWh consumed before this year
};

}  // namespace sim
