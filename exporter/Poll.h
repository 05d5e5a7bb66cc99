// One poll of one controller, as pure logic: the requests it sends, in order, and what their
// answers leave behind. The status page's own tables decode the answers (protocol/Status.h);
// the answer check is the window's (protocol/Answer.h).
//
// A poll reads, one request at a time:
//   42/16 system status, 40/01 AC status, 42/17 module list, 41/0E for each listed module
// These four reads are the only requests the exporter can build: nothing here can make a
// write, an on/off command or a clear.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/Answer.h"
#include "protocol/Commands.h"
#include "protocol/Status.h"

namespace exporter {

enum class PollCommand { SystemStatus, AcStatus, ModuleList, ModuleReadings };
struct PollCommandDef {
  PollCommand command;
  proto::Command request;  // in the catalogue (protocol/Commands.h)
  StatusAnswer answer;
};
const PollCommandDef &pollCommand(PollCommand command);
// The request frame; a readings request carries the module's plain number as its one data byte.
std::string pollRequest(uint8_t address, PollCommand command, int module = 0);

// What the answers of a poll left: the data bytes of the status and AC answers, the module
// records, and the battery state (kept from the poll before when no state bit is set).
struct Reading {
  std::array<uint8_t, 18> system{};
  std::array<uint8_t, 5> ac{};
  status::ModuleTable modules;  // record 0 unused
  status::BatteryState battery = status::BatteryState::Float;     // the page's first text, "浮充"
};
// Before the first poll: every module absent, the battery floating.
Reading firstReading();

// Why a poll failed. The order is that of powerhost_poll_errors_total's reasons.
enum class PollError { Timeout, Damaged, Refused, Short };
constexpr int kPollErrors = 4;
const char *pollErrorName(PollError e);  // "timeout", "damaged", "refused", "short"

class PollCycle {
 public:
  explicit PollCycle(uint8_t address) : address_(address) {}
  // Starts a poll from what the last completed poll read.
  void begin(const Reading &last);
  bool running() const { return running_; }
  PollCommand command() const { return command_; }
  int module() const { return module_; }
  // The request to send now; valid while running.
  std::string request() const { return pollRequest(address_, command_, module_); }
  // The answer to the current request. Returns whether it was sound; the poll then moves on
  // to its next request or, after the last module, completes (running() false, done() true).
  // A faulty answer ends the poll: running() false, done() false, *error says why.
  bool answer(std::string_view chunk, PollError *error);
  // The request went unanswered: the poll ends.
  void timedOut() { running_ = false; }
  bool done() const { return done_; }
  const Reading &reading() const { return reading_; }

 private:
  void nextModule();
  uint8_t address_;
  bool running_ = false;
  bool done_ = false;
  PollCommand command_ = PollCommand::SystemStatus;
  int module_ = 0;
  Reading reading_;
};

}  // namespace exporter
