#include "exporter/Poll.h"

#include <algorithm>
#include <vector>

#include "protocol/Frame.h"

namespace exporter {

namespace {
const PollCommandDef kCommands[] = {
    {PollCommand::SystemStatus, proto::Command::SystemStatus, StatusAnswer::System},
    {PollCommand::AcStatus, proto::Command::AcStatus, StatusAnswer::Ac},
    {PollCommand::ModuleList, proto::Command::ModuleList, StatusAnswer::ModuleList},
    {PollCommand::ModuleReadings, proto::Command::ModuleReadings, StatusAnswer::ModuleReadings},
};
}  // namespace

const PollCommandDef &pollCommand(PollCommand command) { return kCommands[static_cast<int>(command)]; }

std::string pollRequest(uint8_t address, PollCommand command, int module) {
  const proto::CommandDef &c = proto::commandDef(pollCommand(command).request);
  std::vector<uint8_t> data;
  if (command == PollCommand::ModuleReadings) data.push_back(static_cast<uint8_t>(module));
  return proto::encodeFrame(address, c.cid1, c.cid2, data);
}

Reading firstReading() {
  Reading r;
  r.modules = status::noModules();
  return r;
}

const char *pollErrorName(PollError e) {
  switch (e) {
    case PollError::Timeout: return "timeout";
    case PollError::Damaged: return "damaged";
    case PollError::Refused: return "refused";
    case PollError::Short: return "short";
  }
  return "?";
}

void PollCycle::begin(const Reading &last) {
  reading_ = last;
  running_ = true;
  done_ = false;
  command_ = PollCommand::SystemStatus;
  module_ = 0;
}

bool PollCycle::answer(std::string_view chunk, PollError *error) {
  if (!running_) return false;
  const proto::Answer a = proto::checkAnswer(chunk);
  const StatusAnswer kind = pollCommand(command_).answer;
  proto::AnswerFault fault = proto::answerFault(a, status::bytesRead(kind, a.payload[3]));
  // On a bus every controller hears every request: an answer from another address is not
  // the answer to this one.
  if (a.intact() && !proto::fromAddress(a, address_)) fault = proto::AnswerFault::Damaged;
  if (fault != proto::AnswerFault::None) {
    running_ = false;
    if (error)
      *error = fault == proto::AnswerFault::Refused ? PollError::Refused
               : fault == proto::AnswerFault::Short ? PollError::Short
                                                    : PollError::Damaged;
    return false;
  }
  const uint8_t *data = a.data();
  switch (command_) {
    case PollCommand::SystemStatus:
      std::copy_n(data, reading_.system.size(), reading_.system.begin());
      if (const auto b = status::batteryState(reading_.system[16])) reading_.battery = *b;
      command_ = PollCommand::AcStatus;
      break;
    case PollCommand::AcStatus:
      std::copy_n(data, reading_.ac.size(), reading_.ac.begin());
      command_ = PollCommand::ModuleList;
      break;
    case PollCommand::ModuleList:
      status::applyModuleList(reading_.modules, data, a.dataAvailable());
      module_ = 0;
      nextModule();
      break;
    case PollCommand::ModuleReadings:
      status::storeReadings(reading_.modules[module_], data);
      nextModule();
      break;
  }
  return true;
}

void PollCycle::nextModule() {
  module_ = status::nextPresentModule(reading_.modules, module_);
  if (module_) {
    command_ = PollCommand::ModuleReadings;
    return;
  }
  running_ = false;
  done_ = true;
}

}  // namespace exporter
