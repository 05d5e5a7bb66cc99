#include "sim/Options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace sim {

namespace {

bool toLong(const std::string &s, long long lo, long long hi, long long &out) {
  if (s.empty()) return false;
  errno = 0;
  char *end = nullptr;
  long long v = std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

bool toRate(const std::string &s, double &out) {
  if (s.empty()) return false;
  errno = 0;
  char *end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (errno != 0 || *end != '\0' || !(v >= 0.0 && v <= 1.0)) return false;
  out = v;
  return true;
}

// "YYMMDDhhmmss:TYPE:CODE": the date as the twelve digits the controller sends (BCD bytes
// written out, not checked, so an all-zero date stands for an erased slot), type and code
// 0..255.
bool toRecord(const std::string &s, std::array<uint8_t, 8> &out) {
  const auto first = s.find(':');
  const auto second = first == std::string::npos ? first : s.find(':', first + 1);
  if (first != 12 || second == std::string::npos) return false;
  for (int k = 0; k < 6; ++k) {
    const std::string pair = s.substr(static_cast<std::size_t>(2 * k), 2);
    if (!std::isxdigit(static_cast<unsigned char>(pair[0])) || !std::isxdigit(static_cast<unsigned char>(pair[1])))
      return false;
    out[static_cast<std::size_t>(k)] = static_cast<uint8_t>(std::stoi(pair, nullptr, 16));
  }
  long long type = 0, code = 0;
  if (!toLong(s.substr(first + 1, second - first - 1), 0, 255, type) || !toLong(s.substr(second + 1), 0, 255, code))
    return false;
  out[6] = static_cast<uint8_t>(type);
  out[7] = static_cast<uint8_t>(code);
  return true;
}

}  // namespace

const char *usageText() {
  return "Usage: powersim [options]\n"
         "\n"
         "Answers the host's requests as the power system's monitoring controller does,\n"
         "over TCP and/or a pseudo-terminal, with faults on request.\n"
         "\n"
         "  --listen HOST:PORT   TCP link (default 127.0.0.1:5001; port 0 picks a free port)\n"
         "  --pty                pseudo-terminal link (alone it replaces the default TCP link)\n"
         "  --link PATH          symlink PATH to the pseudo-terminal (implies --pty)\n"
         "  --baud N             pace answers as a serial line of N baud (10 bits a character)\n"
         "  --address N          controller address, 0..255 (default 1)\n"
         "  --modules LIST       present rectifier modules, e.g. 1,3,7 (1..12; empty for none)\n"
         "  --records N          history records at start (default 10)\n"
         "  --record YYMMDDhhmmss:TYPE:CODE  one history record, index 0 first (repeatable;\n"
         "                       replaces the generated ones)\n"
         "  --seed N             seed of measurements, records and faults (default 1)\n"
         "  --fault-checksum R   rate 0..1 of answers with a damaged checksum\n"
         "  --fault-silent R     rate of requests left without answer\n"
         "  --fault-late R       rate of answers sent after --delay-ms\n"
         "  --delay-ms N         delay of a late answer (default 1500)\n"
         "  --fault-split R      rate of answers split in two with a 150 ms pause\n"
         "  --fault-rtn R        rate of requests refused with return code 0x01\n"
         "  --fault-noise R      rate of answers preceded by garbage characters\n"
         "  --alarms LIST        alarms held raised, by name, comma separated (see README)\n"
         "  --alarm-rate R       chance 0..1 of each named alarm in each answer (seeded)\n"
         "  --module-fault N:CODE[:STATUS]  module N reports fault CODE and STATUS bits\n"
         "  --verbose            log requests and answers with timestamps to stderr\n"
         "  --stats              print statistics to stdout at exit and on SIGUSR1\n"
         "  --control            read commands from standard input, one a line: raise NAME,\n"
         "                       clear NAME (an --alarms name); each answered \"ok LINE\" or\n"
         "                       \"error LINE: why\" on standard output\n"
         "  --help               this text\n"
         "  --version            the program's version\n";
}

std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &error) {
  Options o;
  bool listenGiven = false;
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
    std::string v;
    long long n = 0;
    // a whole-number option: its value must lie in lo..hi
    auto number = [&](long long lo, long long hi, const char *wants) {
      if (!value(v)) return false;
      if (!toLong(v, lo, hi, n)) {
        error = a + " wants " + wants;
        return false;
      }
      return true;
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--pty") {
      o.pty = true;
    } else if (a == "--verbose") {
      o.verbose = true;
    } else if (a == "--stats") {
      o.stats = true;
    } else if (a == "--control") {
      o.control = true;
    } else if (a == "--listen") {
      if (!value(v)) return std::nullopt;
      auto colon = v.rfind(':');
      if (colon == std::string::npos || colon == 0 || !toLong(v.substr(colon + 1), 0, 65535, n)) {
        error = "--listen wants HOST:PORT";
        return std::nullopt;
      }
      o.listenHost = v.substr(0, colon);
      o.listenPort = static_cast<int>(n);
      listenGiven = true;
    } else if (a == "--link") {
      if (!value(v)) return std::nullopt;
      if (v.empty()) {
        error = "--link wants a path";
        return std::nullopt;
      }
      o.link = v;
      o.pty = true;
    } else if (a == "--baud") {
      if (!number(1, 10000000, "a positive number")) return std::nullopt;
      o.baud = static_cast<int>(n);
    } else if (a == "--address") {
      if (!number(0, 255, "0..255")) return std::nullopt;
      o.controller.address = static_cast<uint8_t>(n);
    } else if (a == "--modules") {
      if (!value(v)) return std::nullopt;
      std::vector<int> list;
      std::size_t start = 0;
      while (start < v.size()) {
        std::size_t comma = v.find(',', start);
        std::string item = v.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!toLong(item, 1, 12, n)) {
          error = "--modules wants numbers 1..12 separated by commas";
          return std::nullopt;
        }
        list.push_back(static_cast<int>(n));
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
      o.controller.modules = list;
    } else if (a == "--alarms") {
      if (!value(v)) return std::nullopt;
      for (std::size_t start = 0; start < v.size();) {
        std::size_t comma = v.find(',', start);
        const std::string name = v.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const AlarmName *found = nullptr;
        for (const AlarmName &alarm : alarmNames())
          if (name == alarm.name) found = &alarm;
        if (!found) {
          error = "--alarms: unknown alarm " + name;
          return std::nullopt;
        }
        if (found->byte == 0) o.controller.alarms.ac |= found->mask;
        else o.controller.alarms.status[found->byte - 13] |= found->mask;
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    } else if (a == "--alarm-rate") {
      if (!value(v)) return std::nullopt;
      if (!toRate(v, o.controller.alarmRate)) {
        error = a + " wants a rate from 0 to 1";
        return std::nullopt;
      }
    } else if (a == "--module-fault") {
      if (!value(v)) return std::nullopt;
      // N:CODE[:STATUS], each a whole number (0x.. for hexadecimal)
      long long part[3] = {0, 0, 0};
      int parts = 0;
      bool good = true;
      for (std::size_t start = 0; good && parts < 3;) {
        std::size_t colon = v.find(':', start);
        const std::string item = v.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        errno = 0;
        char *end = nullptr;
        part[parts++] = std::strtoll(item.c_str(), &end, 0);
        good = !item.empty() && errno == 0 && *end == '\0';
        if (colon == std::string::npos) break;
        start = colon + 1;
        if (parts == 3) good = false;
      }
      if (!good || parts < 2 || part[0] < 1 || part[0] > 12 || part[1] < 0 || part[1] > 255 || part[2] < 0 ||
          part[2] > 255) {
        error = "--module-fault wants N:CODE[:STATUS] with N 1..12, CODE and STATUS 0..255";
        return std::nullopt;
      }
      o.controller.moduleFaults[static_cast<int>(part[0])] = {static_cast<uint8_t>(part[1]),
                                                              static_cast<uint8_t>(part[2])};
    } else if (a == "--records") {
      if (!number(0, 65535, "0..65535")) return std::nullopt;
      o.controller.records = static_cast<int>(n);
    } else if (a == "--record") {
      if (!value(v)) return std::nullopt;
      std::array<uint8_t, 8> record{};
      if (!toRecord(v, record)) {
        error = "--record wants YYMMDDhhmmss:TYPE:CODE";
        return std::nullopt;
      }
      o.controller.history.push_back(record);
    } else if (a == "--seed") {
      if (!number(0, INT64_MAX, "a non-negative number")) return std::nullopt;
      o.controller.seed = static_cast<uint64_t>(n);
      o.faults.seed = static_cast<uint64_t>(n);
    } else if (a == "--delay-ms") {
      if (!number(0, 600000, "0..600000")) return std::nullopt;
      o.faults.lateDelayMs = static_cast<int>(n);
    } else if (a.rfind("--fault-", 0) == 0) {
      double *rate = a == "--fault-checksum" ? &o.faults.checksum
                     : a == "--fault-silent" ? &o.faults.silent
                     : a == "--fault-late"   ? &o.faults.late
                     : a == "--fault-split"  ? &o.faults.split
                     : a == "--fault-rtn"    ? &o.faults.rtn
                     : a == "--fault-noise"  ? &o.faults.noise
                                             : nullptr;
      if (!rate) {
        error = "unknown option " + a;
        return std::nullopt;
      }
      if (!value(v)) return std::nullopt;
      if (!toRate(v, *rate)) {
        error = a + " wants a rate from 0 to 1";
        return std::nullopt;
      }
    } else {
      error = "unknown option " + a;
      return std::nullopt;
    }
  }
  o.tcp = listenGiven || !o.pty;
  return o;
}

std::string listenWarning(const Options &options) {
  if (!options.tcp) return {};
  const std::string &host = options.listenHost;
  if (host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0) return {};
  return "powersim: warning: listening on " + host +
         ", not a loopback address: anyone who can reach it can change the simulated controller\n";
}

}  // namespace sim
