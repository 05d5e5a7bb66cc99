// A read-only Network UPS Tools endpoint: each configured controller is one device under its
// name, for upsc, upslog and upsmon as a secondary (--nut-listen, or the configuration
// file's nut section). The protocol is line based over TCP: one command a line, words
// separated by spaces, "quoted words" with \" and \\ inside; every answer one or more lines.
//
//   VER, NETVER, HELP                  who answers, the protocol version, the commands
//   LIST UPS                           BEGIN LIST UPS / UPS <name> "<description>" / END LIST UPS
//   LIST VAR <ups>                     BEGIN LIST VAR <ups> / VAR <ups> <var> "<value>" ... / END
//   LIST RW <ups>, LIST CMD <ups>      empty lists: nothing can be set, no command run
//   GET VAR <ups> <var>                VAR <ups> <var> "<value>"
//   GET UPSDESC | NUMLOGINS | DESC | TYPE
//   USERNAME, PASSWORD, LOGIN <ups>    a user of the nut section logs in (as upsmon does)
//   LOGOUT                             OK Goodbye, and the connection ends
//
// What is refused: INSTCMD (ERR CMD-NOT-SUPPORTED), SET (ERR READONLY), FSD, PRIMARY and
// MASTER (ERR ACCESS-DENIED), STARTTLS (ERR FEATURE-NOT-CONFIGURED): nothing here acts on a
// plant. A device whose readings are stale (older than the exporter's max-age, or none yet)
// answers ERR DATA-STALE to GET VAR and LIST VAR, as a data server does after its MAXAGE.
//
// Variables of a device: device.type ("ups"), device.mfr, device.model (from the
// controller's labels manufacturer and model when given), driver.name, driver.version,
// input.voltage (AC), output.voltage and battery.voltage (the DC bus), output.current,
// battery.current (negative while discharging), battery.voltage.low (the low-battery
// voltage), battery.temperature, ambient.temperature, ambient.humidity (percent),
// ups.mfr, ups.model, ups.status and, while any alarm is raised, ups.alarm (the alarms'
// names as powerhost_alarm has them, space separated). ups.status is OL with the AC
// input present, OB after an AC power fail; CHRG or DISCHRG by the battery current's sign;
// LB while the DC bus is below the low-battery voltage; ALARM while any alarm is raised.
//
// Limits (NutServer): at most kMaxConnections clients (when all are taken, the one silent
// longest makes room), lines of at most kMaxLine bytes (a longer one is answered
// ERR INVALID-ARGUMENT and the connection closed), a client silent for the idle time-out is
// disconnected, one whose unread answers exceed kMaxPending is disconnected.
//
// The protocol (NutSession) is pure: given the devices and the readings, a line in, the
// answer out. NutServer carries it over sockets, reading the exporter's snapshots and
// following its reloads.
#pragma once

#include <QObject>
#include <QTcpServer>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exporter/Exporter.h"
#include "exporter/Log.h"
#include "exporter/Options.h"

namespace exporter {

// The words of a command line, quotes and escapes resolved; nullopt when a quote is left open.
std::optional<std::vector<std::string>> nutWords(std::string_view line);
// A value as a quoted word: "text" with \ and " escaped.
std::string nutQuote(const std::string &text);

// The variables of one device with a fresh reading, in name order.
std::vector<std::pair<std::string, std::string>> nutVariables(const ControllerEntry &controller, const Reading &reading,
                                                              const NutOptions &options, const std::string &version);
// ups.status alone.
std::string nutStatus(const Reading &reading, double lowBatteryVolts);

// What a session answers from: the devices, their readings and the logins of every session.
struct NutDevices {
  std::vector<ControllerEntry> controllers;
  NutOptions options;
  std::string version;
  std::function<std::optional<Snapshot>(const std::string &name)> snapshot;
  std::function<int(const std::string &name)> logins;
};

// One client's state: who it says it is and where it logged in.
class NutSession {
 public:
  struct Answer {
    Answer(std::string t = {}, bool c = false, std::string n = {}) : text(std::move(t)), close(c), note(std::move(n)) {}
    std::string text;   // lines, each ending in "\n"
    bool close = false;  // the connection ends after it
    std::string note;    // a line for the log (a login, a refused one), empty otherwise
    bool refusal = false;  // the note is of something refused: logged sparsely
  };
  Answer handle(std::string_view line, const NutDevices &devices);
  const std::string &loggedInTo() const { return login_; }

 private:
  std::optional<std::string> user_, password_;
  std::string login_;
};

class NutServer : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMaxConnections = 32;
  static constexpr std::size_t kMaxLine = 512;
  static constexpr qint64 kMaxPending = 64 * 1024;
  static_assert(kMaxConnections + 1 <= kOtherEndpointDescriptors);

  // Serves the exporter's controllers; follows its reloads (users, low-battery voltage,
  // idle time-out and the controllers; a new listen address waits for the next start).
  NutServer(Exporter &exporter, const Options &options, QObject *parent = nullptr);
  ~NutServer() override;
  bool listen(std::string &error);
  quint16 port() const { return server_.serverPort(); }
  int connections() const { return int(connections_.size()); }

 private:
  class Connection;
  void configure(const Options &options);
  void accept();
  void forget(Connection *c);
  Exporter &exporter_;
  NutDevices devices_;
  QTcpServer server_;
  std::vector<Connection *> connections_;
  SparseLog notes_;
};

}  // namespace exporter
