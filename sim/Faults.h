// Fault injection between the controller and its link: each answered request draws one
// number per fault kind from a seeded sequence, so a given seed and request stream always
// gives the same faults.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/Controller.h"
#include "sim/Rng.h"

namespace sim {

struct FaultConfig {
  double checksum = 0;  // answer with a damaged checksum
  double silent = 0;    // the request is lost: no answer, no effect
  double late = 0;      // answer after lateDelayMs
  double split = 0;     // answer in two writes with splitPauseMs between them
  double rtn = 0;       // the request fails: return code kRtnFailed, no effect
  double noise = 0;     // a few garbage characters before the "~"
  int lateDelayMs = 1500;
  int splitPauseMs = 150;
  uint64_t seed = 1;
  bool any() const { return checksum > 0 || silent > 0 || late > 0 || split > 0 || rtn > 0 || noise > 0; }
};

// What goes on the link for one request: pieces written one after another, each after
// its own pause. Empty pieces mean silence.
struct Piece {
  std::string bytes;
  int delayMs = 0;
};
struct Plan {
  bool addressed = false;  // a sound frame for this controller
  uint8_t cid1 = 0, cid2 = 0;
  std::vector<Piece> pieces;
  std::vector<const char *> faults;  // names of the injected faults, for the log
};

class Responder {
 public:
  Responder(Controller &controller, FaultConfig faults)
      : c_(controller), f_(faults), rng_(faults.seed), noiseRng_(faults.seed ^ 0x6E6F697365ull) {}
  Plan respond(std::string_view requestFrame);

 private:
  Controller &c_;
  FaultConfig f_;
  Rng rng_;
  Rng noiseRng_;  // the garbage characters, kept apart from the fault draws
};

}  // namespace sim
