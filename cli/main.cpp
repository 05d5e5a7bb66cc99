// powerhost-cli: one command against one controller, for scripts and the field engineer.
#include <QCoreApplication>

#include <csignal>
#include <cmath>
#include <cstdio>

#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/Session.h"

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const auto options = cli::parseOptions(args, error);
  if (!options) {
    std::fprintf(stderr, "powerhost-cli: %s (see --help)\n", error.c_str());
    return cli::kUsage;
  }
  if (options->help) {
    std::fputs(cli::usageText(), stdout);
    return cli::kDone;
  }
  if (options->version) {
    std::printf("powerhost-cli %s\n", POWERHOST_VERSION);
    return cli::kDone;
  }
  std::signal(SIGPIPE, SIG_IGN);
  QCoreApplication app(argc, argv);
  cli::Session session(options->target, int(std::lround(options->timeoutSeconds * 1000)), options->retries);
  using C = cli::Options::Command;
  // A parameter command checks its names, values and file before the link is opened: bad
  // usage sends nothing.
  if (options->command != C::Status && options->command != C::Records && options->command != C::Energy)
    return cli::runParams(session, *options);
  QString why;
  if (!session.open(&why)) {
    cli::say(why);
    return cli::kNoAnswer;
  }
  switch (options->command) {
    case C::Status: return cli::runStatus(session, *options);
    case C::Records: return cli::runRecords(session, *options);
    case C::Energy: return cli::runEnergy(session, *options);
    default: return cli::kUsage;
  }
}
