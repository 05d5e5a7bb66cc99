// Command line of powersim.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/Controller.h"
#include "sim/Faults.h"

namespace sim {

struct Options {
  ControllerConfig controller;
  FaultConfig faults;
  bool tcp = true;
  std::string listenHost = "127.0.0.1";
  int listenPort = 5001;
  bool pty = false;
  std::string link;  // symlink to the pseudo-terminal
  int baud = 0;      // 0: no pacing
  bool verbose = false;
  bool stats = false;
  bool control = false;  // commands on standard input: raise NAME, clear NAME
  bool help = false;
  bool version = false;
};

// Parses the arguments after the program name; on failure error says why.
std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &error);
const char *usageText();

// The warning to print when the TCP link listens beyond this machine (anyone who can reach
// it can then change the simulated controller); empty for a loopback address.
std::string listenWarning(const Options &options);

}  // namespace sim
