#include "exporter/Options.h"

#include <QHostAddress>
#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

#include "protocol/Conversions.h"

namespace exporter {

namespace {

using linkurl::baudList;
using linkurl::kBauds;
using linkurl::splitHostPort;
using linkurl::wholeNumber;

// A decimal number within [min, max]: digits with an optional fraction, nothing else.
std::optional<double> decimalNumber(const std::string &text, double min, double max) {
  double v = 0;
  const char *end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, v, std::chars_format::fixed);
  if (text.empty() || ec != std::errc() || p != end || !std::isfinite(v) || v < min || v > max) return std::nullopt;
  return v;
}

bool parseSeconds(const std::string &text, double min, double max, double &seconds, std::string &error) {
  const auto v = decimalNumber(text, min, max);
  if (!v) {
    error = "\"" + text + "\" is not a number of seconds from " + proto::formatGeneralText(min) + " to " +
            proto::formatGeneralText(max);
    return false;
  }
  seconds = *v;
  return true;
}

bool validName(const std::string &name) {
  return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == ':';
  });
}

}  // namespace

bool parseListen(const std::string &text, std::string &host, int &port, std::string &error) {
  if (!splitHostPort(text, 0, host, port, error)) return false;
  if (host == "localhost") host = "127.0.0.1";
  if (QHostAddress(QString::fromStdString(host)).isNull()) {
    error = "\"" + host + "\" is not an IP address of this machine";
    return false;
  }
  return true;
}

bool parseInterval(const std::string &text, double &seconds, std::string &error) {
  return parseSeconds(text, 0.1, 3600, seconds, error);
}

bool parseMaxAge(const std::string &text, double &seconds, std::string &error) {
  return parseSeconds(text, 0.1, 86400, seconds, error);
}

bool parseIdleTimeout(const std::string &text, double &seconds, std::string &error) {
  return parseSeconds(text, 1, 86400, seconds, error);
}

bool parseLowBattery(const std::string &text, double &volts, std::string &error) {
  const auto v = decimalNumber(text, 1, 100);
  if (!v) {
    error = "\"" + text + "\" is not a voltage from 1 to 100 (the DC bus's magnitude, such as 47)";
    return false;
  }
  volts = *v;
  return true;
}

bool checkNutUser(const std::string &name, const std::string &password, std::string &error) {
  const bool nameOk = !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == '@';
  });
  if (!nameOk) {
    error = "\"" + name + "\" is not a user name (letters, digits, _ - . @, at most 64)";
    return false;
  }
  const bool passwordOk = !password.empty() && password.size() <= 128 && password.front() != ' ' &&
                          password.back() != ' ' && std::all_of(password.begin(), password.end(), [](char c) {
                            return static_cast<unsigned char>(c) >= 0x20 && c != 0x7f;
                          });
  if (!passwordOk) {
    error = "the password of " + name + " must be 1 to 128 printable characters without a space first or last";
    return false;
  }
  return true;
}

bool addController(Options &o, ControllerEntry entry, std::string &error) {
  if (!validName(entry.name)) {
    error = "\"" + entry.name + "\" is not a controller name (letters, digits, _ - . :, at most 64)";
    return false;
  }
  for (const ControllerEntry &c : o.controllers) {
    if (c.name == entry.name) {
      error = "the name \"" + entry.name + "\" is given twice";
      return false;
    }
    if (c.target.lineKey() != entry.target.lineKey()) continue;
    if (c.target.address == entry.target.address) {
      error = entry.name + ": " + c.name + " is already address " + std::to_string(entry.target.address) + " on " +
              entry.target.lineKey();
      return false;
    }
    if (c.target.baud != entry.target.baud) {
      error = entry.name + ": " + c.name + " uses " + entry.target.lineKey() + " at " + std::to_string(c.target.baud) +
              " baud; one bus has one baud rate";
      return false;
    }
  }
  o.controllers.push_back(std::move(entry));
  return true;
}

bool checkOptions(const Options &o, std::string &error) {
  if (o.controllers.empty()) {
    error = o.configFile.empty() ? "no controller: give at least one --controller NAME=URL"
                                 : "no controller: the configuration file lists none";
    return false;
  }
  if (o.maxAge() < o.intervalSeconds) {
    error = "the max-age (" + proto::formatGeneralText(o.maxAge()) + " s) is shorter than the interval (" +
            proto::formatGeneralText(o.intervalSeconds) + " s): every reading would vanish before the next";
    return false;
  }
  return true;
}

std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &error) {
  Options o;
  bool controllerGiven = false;
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
    if (opt != "--listen" && opt != "--interval" && opt != "--max-age" && opt != "--controller" && opt != "--config" &&
        opt != "--nut-listen" && opt != "--web.config.file") {
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
    std::string why;
    bool ok = true;
    if (opt == "--listen") {
      ok = parseListen(value, o.listenHost, o.listenPort, why);
      o.listenGiven = true;
    } else if (opt == "--interval") {
      ok = parseInterval(value, o.intervalSeconds, why);
      o.intervalGiven = true;
    } else if (opt == "--max-age") {
      double seconds = 0;
      ok = parseMaxAge(value, seconds, why);
      o.maxAgeSeconds = seconds;
    } else if (opt == "--config" || opt == "--web.config.file") {
      ok = !value.empty();
      why = "the file name is empty";
      (opt == "--config" ? o.configFile : o.webConfigFile) = value;
    } else if (opt == "--nut-listen") {
      ok = parseListen(value, o.nut.listenHost, o.nut.listenPort, why);
      o.nut.enabled = o.nutListenGiven = true;
    } else {
      controllerGiven = true;
      const auto eq = value.find('=');
      const std::string name = value.substr(0, eq);
      if (eq == std::string::npos || !validName(name)) {
        error = "--controller: \"" + value + "\" is not NAME=URL (NAME: letters, digits, _ - . :)";
        return std::nullopt;
      }
      const auto t = parseTarget(value.substr(eq + 1), why);
      if (!t) {
        error = "--controller " + name + ": " + why;
        return std::nullopt;
      }
      ok = addController(o, {name, *t, {}}, why);
    }
    if (!ok) {
      error = opt + ": " + why;
      return std::nullopt;
    }
  }
  if (!o.configFile.empty() && controllerGiven) {
    error = "--controller and --config: with a configuration file the controllers are listed there";
    return std::nullopt;
  }
  if (o.configFile.empty() && !checkOptions(o, error)) return std::nullopt;
  return o;
}

const char *usageText() {
  return "Usage: powerhost-exporter [OPTION...] --controller NAME=URL...\n"
         "  or:  powerhost-exporter [OPTION...] --config FILE\n"
         "\n"
         "Polls -48 V power controllers and serves their status to Prometheus at\n"
         "http://HOST:PORT/metrics (text format 0.0.4). Nothing but reads is ever sent.\n"
         "\n"
         "  --listen HOST:PORT      address of the HTTP endpoint (default 127.0.0.1:9479;\n"
         "                          port 0 picks a free port, printed as \"listening HOST:PORT\").\n"
         "                          Beyond loopback, set TLS and basic auth with --web.config.file.\n"
         "  --web.config.file FILE  TLS, basic authentication and headers of the HTTP endpoint,\n"
         "                          in the web configuration format of Prometheus's exporters\n"
         "                          (promtool check web-config FILE); read again on SIGHUP\n"
         "  --nut-listen HOST:PORT  serve the controllers read-only to Network UPS Tools clients\n"
         "                          (upsc, upsmon as a secondary) there, such as 127.0.0.1:3493;\n"
         "                          off unless given here or in the configuration file's nut\n"
         "                          section (port 0: printed as \"nut listening HOST:PORT\")\n"
         "  --interval SECONDS      time between two polls of a controller, 0.1..3600 (default 5)\n"
         "  --max-age SECONDS       a controller's measurements, alarms, states and modules are\n"
         "                          served while its last completed poll is at most this old\n"
         "                          (default 3 intervals + 2 s); after that only its up, poll\n"
         "                          errors, poll durations and last poll time remain\n"
         "  --controller NAME=URL   a controller to poll; NAME is its label controller=\"NAME\"\n"
         "                          (letters, digits, _ - . :). Repeat for each controller.\n"
         "  --config FILE           the settings and controllers from a YAML file, read again on\n"
         "                          SIGHUP and on POST /-/reload (from loopback); --listen,\n"
         "                          --interval and --max-age given here win over the file's\n"
         "  --version               the version, revision and Qt version\n"
         "  --help                  this text\n"
         "\n"
         "URL:\n"
         "  tcp://HOST:PORT[?address=N]                 a controller on the LAN\n"
         "  serial:DEVICE[?baud=B][&address=N]          a controller on a serial line\n"
         "  address: the controller's address 0..255 (default 1); baud: 1200 2400 4800 9600\n"
         "  19200 38400 57600 115200 (default 9600). Controllers on the same device (or the\n"
         "  same TCP host and port) with different addresses form one RS-485 bus: one open\n"
         "  port, polled in turn. Separate lines are polled at the same time.\n"
         "\n"
         "Configuration file:\n"
         "  listen: \"127.0.0.1:9479\"\n"
         "  interval: 5\n"
         "  max_age: 17\n"
         "  controllers:\n"
         "    - name: site1\n"
         "      url: \"tcp://10.0.0.5:5001?address=7\"\n"
         "      labels: {region: north}          # on powerhost_controller_info\n"
         "  nut:                                 # the Network UPS Tools endpoint\n"
         "    listen: \"127.0.0.1:3493\"            # (the default once the section is there)\n"
         "    low_battery_voltage: 47             # LB in ups.status below this DC bus voltage\n"
         "    idle_timeout: 60                    # seconds a client may stay silent\n"
         "    users: {upsmon: secret}             # who may LOGIN (upsmon secondary)\n"
         "\n"
         "Examples:\n"
         "  powerhost-exporter --controller site1=tcp://127.0.0.1:5001?address=7\n"
         "  powerhost-exporter --interval 10 \\\n"
         "      --controller 'rack-a=serial:/dev/ttyUSB0?baud=9600&address=3' \\\n"
         "      --controller 'rack-b=serial:/dev/ttyUSB0?baud=9600&address=4'\n"
         "  powerhost-exporter --config /etc/powerhost-exporter.yml\n"
         "\n"
         "Each poll reads the system status (42/16), the AC status (40/01), the module list\n"
         "(42/17) and each listed module (41/0E), one request on a line at a time, with a\n"
         "time-out of 1 s. GET / is a short page, GET /metrics the metrics (gzip when asked\n"
         "for); every other path is 404. The Network UPS Tools endpoint shows each controller\n"
         "as one device under its name (ups.status OL/OB, LB, CHRG/DISCHRG, ALARM) and refuses\n"
         "every command that would act (INSTCMD, SET, FSD); stale readings answer\n"
         "ERR DATA-STALE. SIGTERM and SIGINT end the exporter (exit status 0); SIGHUP reloads\n"
         "the configuration and web configuration files. A bad argument exits with status 2. At start\n"
         "the open-file limit is raised to its hard limit; when the controllers still do not\n"
         "all fit, one line says so and the last ones are not polled.\n";
}

std::string listenWarning(const Options &options, bool tls, bool auth) {
  std::string out;
  if (!QHostAddress(QString::fromStdString(options.listenHost)).isLoopback() && !(tls && auth))
    out = "warning: listening on " + options.listenHost + ", not a loopback address, " +
          (tls ? "without authentication" : auth ? "without TLS (passwords travel in clear)" : "without TLS or authentication") +
          ": set both in --web.config.file";
  if (options.nut.enabled && !QHostAddress(QString::fromStdString(options.nut.listenHost)).isLoopback())
    out += std::string(out.empty() ? "" : "\n") + "warning: the Network UPS Tools endpoint listens on " +
           options.nut.listenHost + ", not a loopback address: its readings and LOGIN passwords travel in clear";
  return out;
}

}  // namespace exporter
