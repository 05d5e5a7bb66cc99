// Where a controller is reached, written as a URL, for the programs that run without a window
// (the exporter, the command line):
//   tcp://HOST:PORT[?address=N]          a controller on the LAN (or a gateway to its bus)
//   serial:DEVICE[?baud=B][&address=N]   a controller on a serial line
// address: the controller's address 0..255 (default 1); baud: one of kBauds (default 9600).
// Parsing is pure; createLink makes the link the URL names, not yet open.
#pragma once

#include <optional>
#include <string>

class Link;
class QObject;

namespace linkurl {

inline constexpr int kBauds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

struct Target {
  enum class Kind { Tcp, Serial } kind = Kind::Tcp;
  std::string host;  // Tcp
  int port = 0;      // Tcp
  std::string device;  // Serial
  int baud = 9600;     // Serial
  int address = 1;     // the controller's address on its line, 0..255
  // The line this controller is on: "tcp://HOST:PORT" or "serial:DEVICE".
  std::string lineKey() const;
  // The whole URL back: the line and its settings ("tcp://127.0.0.1:5001?address=1").
  std::string url() const;
  bool operator==(const Target &) const = default;
};

// One controller URL; on failure, error says why (one line, naming the URL).
std::optional<Target> parseTarget(const std::string &url, std::string &error);

// "HOST:PORT", the host an IP address (IPv6 in brackets) or a name; port within [minPort, 65535].
bool splitHostPort(const std::string &text, int minPort, std::string &host, int &port, std::string &error);
// A whole decimal number within [min, max], nothing else.
std::optional<long> wholeNumber(const std::string &text, long min, long max);
// "1200 2400 … 115200"
std::string baudList();

// The link the target names, owned by parent and not yet open: a LAN link, or a serial link
// with the controller's line settings at the target's baud rate.
Link *createLink(const Target &target, QObject *parent);

}  // namespace linkurl
