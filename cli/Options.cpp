#include "cli/Options.h"

#include <charconv>
#include <cmath>
#include <map>

namespace cli {

namespace {

using Command = Options::Command;

struct CommandForm {
  const char *name;
  Command command;
  int minArgs, maxArgs;  // -1: any number
  const char *shape;     // how its arguments are written, for the error
};
const CommandForm kCommands[] = {
    {"status", Command::Status, 0, 0, "status"},
    {"get", Command::Get, 0, -1, "get [NAME...]"},
    {"set", Command::Set, 1, -1, "set NAME=VALUE..."},
    {"backup", Command::Backup, 1, 1, "backup FILE"},
    {"diff", Command::Diff, 1, 1, "diff FILE"},
    {"restore", Command::Restore, 1, 1, "restore FILE"},
    {"records", Command::Records, 0, 0, "records"},
    {"energy", Command::Energy, 0, 0, "energy"},
};

std::optional<double> seconds(const std::string &text) {
  double v = 0;
  const char *end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, v, std::chars_format::fixed);
  if (text.empty() || ec != std::errc() || p != end || !std::isfinite(v) || v < 0.05 || v > 60) return std::nullopt;
  return v;
}

}  // namespace

std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &error) {
  Options o;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    auto value = [&](std::string &out) {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--csv") {
      o.csv = true;
    } else if (a == "--yes") {
      o.yes = true;
    } else if (a == "--dry-run") {
      o.dryRun = true;
    } else if (a == "--timeout") {
      std::string v;
      if (!value(v)) return std::nullopt;
      const auto s = seconds(v);
      if (!s) {
        error = "--timeout: \"" + v + "\" is not a number of seconds from 0.05 to 60";
        return std::nullopt;
      }
      o.timeoutSeconds = *s;
    } else if (a == "--retries") {
      std::string v;
      if (!value(v)) return std::nullopt;
      const auto n = linkurl::wholeNumber(v, 0, 10);
      if (!n) {
        error = "--retries: \"" + v + "\" is not a whole number from 0 to 10";
        return std::nullopt;
      }
      o.retries = int(*n);
    } else if (a.size() > 1 && a.front() == '-' && a != "-") {
      error = "unknown option \"" + a + "\"";
      return std::nullopt;
    } else {
      words.push_back(a);
    }
  }
  if (o.help || o.version) return o;
  if (words.size() < 2) {
    error = words.empty() ? "a controller URL and a command are needed" : "a command is needed after the URL";
    return std::nullopt;
  }
  const auto target = linkurl::parseTarget(words[0], error);
  if (!target) return std::nullopt;
  o.target = *target;
  const CommandForm *form = nullptr;
  for (const CommandForm &c : kCommands)
    if (words[1] == c.name) form = &c;
  if (!form) {
    error = "unknown command \"" + words[1] + "\"";
    return std::nullopt;
  }
  o.command = form->command;
  o.arguments.assign(words.begin() + 2, words.end());
  const int n = int(o.arguments.size());
  if (n < form->minArgs || (form->maxArgs >= 0 && n > form->maxArgs)) {
    error = std::string("usage: ") + form->shape;
    return std::nullopt;
  }
  // options that mean nothing to the command are refused rather than ignored
  const bool jsonOk = o.command == Command::Status || o.command == Command::Get || o.command == Command::Diff;
  const bool csvOk = o.command == Command::Records || o.command == Command::Energy;
  const bool yesOk = o.command == Command::Set || o.command == Command::Restore;
  if (o.json && !jsonOk) error = "--json goes with status, get and diff";
  else if (o.csv && !csvOk) error = "--csv goes with records and energy";
  else if (o.yes && !yesOk) error = "--yes goes with set and restore";
  else if (o.dryRun && o.command != Command::Restore) error = "--dry-run goes with restore";
  if (!error.empty()) return std::nullopt;
  return o;
}

const char *usageText() {
  return "Usage: powerhost-cli URL COMMAND [ARGUMENT...] [OPTION...]\n"
         "\n"
         "Reads and writes a -48 V power controller from scripts: one command, its data on\n"
         "standard output, messages on standard error.\n"
         "\n"
         "Commands:\n"
         "  status                 one poll: measurements, alarm lamps, battery and AC state,\n"
         "                         rectifier modules (--json: one JSON object)\n"
         "  get [NAME...]          parameters by name, all of them without names\n"
         "                         (--json: one JSON object)\n"
         "  set NAME=VALUE...      writes parameters, each checked against its field first\n"
         "                         and read back; starting an equalize charge or a battery\n"
         "                         test needs --yes\n"
         "  backup FILE            reads every parameter into a parameter file (JSON)\n"
         "  diff FILE              compares the controller with a parameter file\n"
         "  restore FILE           writes the parameters that differ from the file, each read\n"
         "                         back; needs --yes (or a yes at the terminal). A battery test\n"
         "                         or equalize charge in the file is never started by it\n"
         "  records                the alarm history, newest first\n"
         "  energy                 the energy counters of the four users\n"
         "\n"
         "Options:\n"
         "  --json                 status, get, diff: JSON on standard output\n"
         "  --csv                  records: the window's export; energy: numeric columns\n"
         "  --yes                  set: confirms equalizing and battery test; restore: writes\n"
         "                         without asking\n"
         "  --dry-run              restore: lists what would be written, writes nothing\n"
         "  --timeout SECONDS      time an answer may take, 0.05..60 (default 1)\n"
         "  --retries N            times an unanswered request is sent again, 0..10 (default 2)\n"
         "  --version              the version\n"
         "  --help                 this text\n"
         "\n"
         "URL:\n"
         "  tcp://HOST:PORT[?address=N]                 a controller on the LAN\n"
         "  serial:DEVICE[?baud=B][&address=N]          a controller on a serial line\n"
         "  address: the controller's address 0..255 (default 1); baud: 1200 2400 4800 9600\n"
         "  19200 38400 57600 115200 (default 9600)\n"
         "\n"
         "Parameter names are stable English keys such as float_voltage, equalize_voltage,\n"
         "battery_capacity, dry_contact_1_type; `get` lists them all with their units. A list\n"
         "parameter takes its item's code or text (dry_contact_1_type=13 or =防雷).\n"
         "\n"
         "Exit status:\n"
         "  0  done\n"
         "  1  the controller refused something, or diff found differences\n"
         "  2  bad usage: options, names, values or the file\n"
         "  3  the controller did not answer\n";
}

}  // namespace cli
