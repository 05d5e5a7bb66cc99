#include "cli/Commands.h"

namespace cli {

int runParams(Session &, const Options &) {
  say(QStringLiteral("not yet"));
  return kUsage;
}

}  // namespace cli
