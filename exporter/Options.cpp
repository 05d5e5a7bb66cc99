#include "exporter/Options.h"

#include <QHostAddress>
#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

namespace exporter {

namespace {

constexpr int kBauds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

// "1200 2400 … 115200"
std::string baudList() {
  std::string list;
  for (int b : kBauds) list += (list.empty() ? "" : " ") + std::to_string(b);
  return list;
}

std::optional<long> wholeNumber(const std::string &text, long min, long max) {
  long v = 0;
  const char *end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, v);
  if (text.empty() || ec != std::errc() || p != end || v < min || v > max) return std::nullopt;
  return v;
}

// "HOST:PORT", the host an IP address (IPv6 in brackets) or a name; port within [minPort, 65535].
bool splitHostPort(const std::string &text, int minPort, std::string &host, int &port, std::string &error) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) {
    error = "\"" + text + "\" is not HOST:PORT";
    return false;
  }
  host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const auto p = wholeNumber(text.substr(colon + 1), minPort, 65535);
  if (!p) {
    error = "\"" + text.substr(colon + 1) + "\" is not a port number (" + std::to_string(minPort) + "..65535)";
    return false;
  }
  port = int(*p);
  const bool nameChars = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
  });
  if (!nameChars && QHostAddress(QString::fromStdString(host)).isNull()) {
    error = "\"" + host + "\" is not a host name or IP address";
    return false;
  }
  return true;
}

bool validName(const std::string &name) {
  return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == ':';
  });
}

// "key=value&key=value" into the target; only address (both kinds) and baud (serial).
bool parseQuery(const std::string &query, Target &t, const std::string &url, std::string &error) {
  std::set<std::string> seen;
  size_t at = 0;
  while (at <= query.size()) {
    const size_t amp = std::min(query.find('&', at), query.size());
    const std::string item = query.substr(at, amp - at);
    const auto eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
    if (eq == std::string::npos || !seen.insert(key).second) {
      error = "\"" + url + "\": \"" + item + "\" is not a setting or is given twice";
      return false;
    }
    if (key == "address") {
      const auto a = wholeNumber(value, 0, 255);
      if (!a) {
        error = "\"" + url + "\": address \"" + value + "\" is not 0..255";
        return false;
      }
      t.address = int(*a);
    } else if (key == "baud" && t.kind == Target::Kind::Serial) {
      const auto b = wholeNumber(value, kBauds[0], std::end(kBauds)[-1]);
      if (!b || std::find(std::begin(kBauds), std::end(kBauds), *b) == std::end(kBauds)) {
        error = "\"" + url + "\": baud \"" + value + "\" is not one of " + baudList();
        return false;
      }
      t.baud = int(*b);
    } else {
      error = "\"" + url + "\": unknown setting \"" + key + "\" (address=N" +
              (t.kind == Target::Kind::Serial ? std::string(", baud=N") : std::string()) + ")";
      return false;
    }
    at = amp + 1;
  }
  return true;
}

}  // namespace

std::string Target::lineKey() const {
  return kind == Kind::Tcp ? "tcp://" + host + ":" + std::to_string(port) : "serial:" + device;
}

std::optional<Target> parseTarget(const std::string &url, std::string &error) {
  Target t;
  const auto q = url.find('?');
  const std::string base = url.substr(0, q);
  const std::string query = q == std::string::npos ? std::string() : url.substr(q + 1);
  if (base.rfind("tcp://", 0) == 0) {
    t.kind = Target::Kind::Tcp;
    std::string why;
    if (!splitHostPort(base.substr(6), 1, t.host, t.port, why)) {
      error = "\"" + url + "\": " + why;
      return std::nullopt;
    }
  } else if (base.rfind("serial:", 0) == 0) {
    t.kind = Target::Kind::Serial;
    t.device = base.substr(7);
    if (t.device.empty() || t.device.front() != '/') {
      error = "\"" + url + "\": the serial device must be a path such as /dev/ttyUSB0";
      return std::nullopt;
    }
  } else {
    error = "\"" + url + "\" is not tcp://HOST:PORT or serial:DEVICE";
    return std::nullopt;
  }
  if (q != std::string::npos && !parseQuery(query, t, url, error)) return std::nullopt;
  return t;
}

std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &error) {
  Options o;
  std::set<std::string> names;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (a == "--help" || a == "-h") {
      o.help = true;
      return o;
    }
    if (a == "--version") {
      o.version = true;
      return o;
    }
    // --option VALUE or --option=VALUE
    std::string opt = a, value;
    bool inlineValue = false;
    if (a.rfind("--", 0) == 0 && a.find('=') != std::string::npos) {
      opt = a.substr(0, a.find('='));
      value = a.substr(a.find('=') + 1);
      inlineValue = true;
    }
    if (opt != "--listen" && opt != "--interval" && opt != "--controller") {
      error = "unknown argument \"" + a + "\"";
      return std::nullopt;
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) {
        error = opt + " needs a value";
        return std::nullopt;
      }
      value = args[++i];
    }
    if (opt == "--listen") {
      if (!splitHostPort(value, 0, o.listenHost, o.listenPort, error)) {
        error = "--listen: " + error;
        return std::nullopt;
      }
      if (o.listenHost == "localhost") o.listenHost = "127.0.0.1";
      if (QHostAddress(QString::fromStdString(o.listenHost)).isNull()) {
        error = "--listen: \"" + o.listenHost + "\" is not an IP address of this machine";
        return std::nullopt;
      }
    } else if (opt == "--interval") {
      char *end = nullptr;
      const double v = std::strtod(value.c_str(), &end);
      if (value.empty() || end != value.c_str() + value.size() || !std::isfinite(v) || v < 0.1 || v > 3600) {
        error = "--interval: \"" + value + "\" is not a number of seconds from 0.1 to 3600";
        return std::nullopt;
      }
      o.intervalSeconds = v;
    } else {
      const auto eq = value.find('=');
      const std::string name = value.substr(0, eq);
      if (eq == std::string::npos || !validName(name)) {
        error = "--controller: \"" + value + "\" is not NAME=URL (NAME: letters, digits, _ - . :)";
        return std::nullopt;
      }
      if (!names.insert(name).second) {
        error = "--controller: the name \"" + name + "\" is given twice";
        return std::nullopt;
      }
      std::string why;
      const auto t = parseTarget(value.substr(eq + 1), why);
      if (!t) {
        error = "--controller " + name + ": " + why;
        return std::nullopt;
      }
      for (const ControllerEntry &c : o.controllers) {
        if (c.target.lineKey() != t->lineKey()) continue;
        if (c.target.address == t->address) {
          error = "--controller " + name + ": " + c.name + " is already address " + std::to_string(t->address) +
                  " on " + t->lineKey();
          return std::nullopt;
        }
        if (c.target.baud != t->baud) {
          error = "--controller " + name + ": " + c.name + " uses " + t->lineKey() + " at " +
                  std::to_string(c.target.baud) + " baud; one bus has one baud rate";
          return std::nullopt;
        }
      }
      o.controllers.push_back({name, *t});
    }
  }
  if (o.controllers.empty()) {
    error = "no controller: give at least one --controller NAME=URL";
    return std::nullopt;
  }
  return o;
}

const char *usageText() {
  return "Usage: powerhost-exporter [OPTION...] --controller NAME=URL...\n"
         "\n"
         "Polls -48 V power controllers and serves their status to Prometheus at\n"
         "http://HOST:PORT/metrics (text format 0.0.4). Nothing but reads is ever sent.\n"
         "\n"
         "  --listen HOST:PORT      address of the HTTP endpoint (default 127.0.0.1:9479;\n"
         "                          port 0 picks a free port, printed as \"listening HOST:PORT\").\n"
         "                          The metrics are unauthenticated: beyond loopback, put them\n"
         "                          behind a TLS reverse proxy.\n"
         "  --interval SECONDS      time between two polls of a controller, 0.1..3600 (default 5)\n"
         "  --controller NAME=URL   a controller to poll; NAME is its label controller=\"NAME\"\n"
         "                          (letters, digits, _ - . :). Repeat for each controller.\n"
         "  --help                  this text\n"
         "  --version               the program's version\n"
         "\n"
         "URL:\n"
         "  tcp://HOST:PORT[?address=N]                 a controller on the LAN\n"
         "  serial:DEVICE[?baud=B][&address=N]          a controller on a serial line\n"
         "  address: the controller's address 0..255 (default 1); baud: 1200 2400 4800 9600\n"
         "  19200 38400 57600 115200 (default 9600). Controllers on the same device (or the\n"
         "  same TCP host and port) with different addresses form one RS-485 bus: one open\n"
         "  port, polled in turn. Separate lines are polled at the same time.\n"
         "\n"
         "Examples:\n"
         "  powerhost-exporter --controller site1=tcp://127.0.0.1:5001?address=7\n"
         "  powerhost-exporter --interval 10 \\\n"
         "      --controller 'rack-a=serial:/dev/ttyUSB0?baud=9600&address=3' \\\n"
         "      --controller 'rack-b=serial:/dev/ttyUSB0?baud=9600&address=4'\n"
         "\n"
         "Each poll reads the system status (42/16), the AC status (40/01), the module list\n"
         "(42/17) and each listed module (41/0E), one request on a line at a time, with a\n"
         "time-out of 1 s. GET / is a short page, GET /metrics the metrics; every other path\n"
         "is 404. SIGTERM and SIGINT end the exporter (exit status 0). A bad argument exits\n"
         "with status 2.\n";
}

std::string listenWarning(const Options &options) {
  const QHostAddress a(QString::fromStdString(options.listenHost));
  if (a.isLoopback()) return {};
  return "warning: listening on " + options.listenHost +
         ", not a loopback address: the metrics are unauthenticated; put them behind a TLS reverse proxy";
}

}  // namespace exporter
