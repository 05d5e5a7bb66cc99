// The exporter's command line: where it listens, how often it polls, and the controllers,
// each named and reached by a URL. Pure: nothing is opened here.
//
//   powerhost-exporter [--listen HOST:PORT] [--interval SECONDS]
//                      --controller NAME=URL [--controller NAME=URL ...]
//   URL: tcp://HOST:PORT[?address=N]   or   serial:DEVICE[?baud=B][&address=N]
//
// Controllers reached through the same serial device, or the same TCP host and port (a
// gateway to an RS-485 bus), share one line: one open port, polled in turn.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace exporter {

struct Target {
  enum class Kind { Tcp, Serial } kind = Kind::Tcp;
  std::string host;  // Tcp
  int port = 0;      // Tcp
  std::string device;  // Serial
  int baud = 9600;     // Serial
  int address = 1;     // the controller's address on its line, 0..255
  // The line this controller is on: "tcp://HOST:PORT" or "serial:DEVICE".
  std::string lineKey() const;
};

// One --controller NAME=URL: the name its metrics carry and where it is reached.
struct ControllerEntry {
  std::string name;
  Target target;
};

struct Options {
  std::string listenHost = "127.0.0.1";
  int listenPort = 9479;
  double intervalSeconds = 5;
  std::vector<ControllerEntry> controllers;
  bool help = false;
  bool version = false;
};

// The arguments after the program name. On failure, error is one line saying what is wrong.
std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &error);
// One controller URL; on failure, error says why.
std::optional<Target> parseTarget(const std::string &url, std::string &error);
const char *usageText();

// The warning for a listen address beyond this machine; empty for a loopback address.
std::string listenWarning(const Options &options);

}  // namespace exporter
