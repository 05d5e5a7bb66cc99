// The command line of powerhost-cli: the controller's URL (link/ControllerUrl.h, as the
// exporter writes it), one command and its arguments, and the options. Pure: nothing is
// opened here.
//
//   powerhost-cli URL COMMAND [ARGUMENT...] [OPTION...]
//   COMMAND: status | get [NAME...] | set NAME=VALUE... | backup FILE | diff FILE |
//            restore FILE | records | energy
//   OPTION:  --json --csv --yes --dry-run --timeout SECONDS --retries N
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/ControllerUrl.h"

namespace cli {

// Exit status: what the program tells a script.
enum Exit { kDone = 0, kRefused = 1, kUsage = 2, kNoAnswer = 3 };

struct Options {
  enum class Command { Status, Get, Set, Backup, Diff, Restore, Records, Energy };
  linkurl::Target target;
  Command command = Command::Status;
  std::vector<std::string> arguments;  // names, NAME=VALUE pairs, or the one file
  bool json = false, csv = false, yes = false, dryRun = false;
  double timeoutSeconds = 1.0;
  int retries = 2;
  bool help = false, version = false;
};

// The arguments after the program name; on failure, error is one line saying what is wrong.
std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &error);
const char *usageText();

}  // namespace cli
