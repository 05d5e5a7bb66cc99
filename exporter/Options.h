// The exporter's settings: where it listens, how often it polls, how long a reading may be
// served, and the controllers, each named and reached by a URL. They come from the command
// line, or from a configuration file (Config.h) with the command line's settings over it.
// Pure: nothing is opened here.
//
//   powerhost-exporter [--listen HOST:PORT] [--interval SECONDS] [--max-age SECONDS]
//                      --controller NAME=URL [--controller NAME=URL ...]
//   powerhost-exporter --config FILE [--listen HOST:PORT] [--interval S] [--max-age S]
//   either with [--web.config.file FILE] [--nut-listen HOST:PORT]
//   URL: tcp://HOST:PORT[?address=N]   or   serial:DEVICE[?baud=B][&address=N]
//
// Controllers reached through the same serial device, or the same TCP host and port (a
// gateway to an RS-485 bus), share one line: one open port, polled in turn.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/ControllerUrl.h"

namespace exporter {

// A controller's URL (link/ControllerUrl.h), shared with the command line.
using linkurl::Target;
using linkurl::parseTarget;

// One controller: the name its metrics carry, where it is reached, and the labels its info
// series carries (from the configuration file).
struct ControllerEntry {
  std::string name;
  Target target;
  std::map<std::string, std::string> labels;
  bool operator==(const ControllerEntry &) const = default;
};

// The read-only Network UPS Tools endpoint (Nut.h): off unless --nut-listen or the
// configuration file's nut section turns it on.
struct NutOptions {
  bool enabled = false;
  std::string listenHost = "127.0.0.1";
  int listenPort = 3493;
  double lowBatteryVolts = 47;  // ups.status has LB while the DC bus is below this
  double idleTimeoutSeconds = 60;  // a client that sends nothing this long is disconnected
  std::map<std::string, std::string> users;  // who may LOGIN (upsmon): name, password
  bool operator==(const NutOptions &) const = default;
};

struct Options {
  std::string listenHost = "127.0.0.1";
  int listenPort = 9479;
  double intervalSeconds = 5;
  std::optional<double> maxAgeSeconds;  // unset: 3 intervals and 2 s
  std::vector<ControllerEntry> controllers;
  std::string configFile;  // --config; empty without one
  std::string webConfigFile;  // --web.config.file: TLS, basic auth, headers (WebConfig.h)
  NutOptions nut;
  bool help = false;
  bool version = false;
  // Settings the command line gave: with a configuration file they win over the file's, at
  // start and at every reload.
  bool listenGiven = false, intervalGiven = false, nutListenGiven = false;

  // How old a completed poll's reading may be and still be served.
  double maxAge() const { return maxAgeSeconds ? *maxAgeSeconds : 3 * intervalSeconds + 2; }
};

// The arguments after the program name. On failure, error is one line saying what is wrong.
std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &error);
const char *usageText();

// The checks shared by the command line and the configuration file. Each returns false with
// the reason (without naming where the value came from) when the value does not do.
bool parseListen(const std::string &text, std::string &host, int &port, std::string &error);
bool parseInterval(const std::string &text, double &seconds, std::string &error);
bool parseMaxAge(const std::string &text, double &seconds, std::string &error);
bool parseLowBattery(const std::string &text, double &volts, std::string &error);
bool parseIdleTimeout(const std::string &text, double &seconds, std::string &error);
// A NUT user name (letters, digits, _ - . @, at most 64) and password (1..128 printable
// characters, no space first or last); false with the reason.
bool checkNutUser(const std::string &name, const std::string &password, std::string &error);
// Adds a controller unless its name is not valid or taken, or its line cannot carry it (its
// address is taken there, or another baud rate is set for the same bus).
bool addController(Options &o, ControllerEntry entry, std::string &error);
// The settings as a whole: a controller at least, a max-age of an interval at least.
bool checkOptions(const Options &o, std::string &error);

// The warning for a listen address beyond this machine; empty for a loopback address, or
// when scrapes are encrypted and authenticated (tls and auth from the web configuration).
std::string listenWarning(const Options &options, bool tls = false, bool auth = false);

}  // namespace exporter
