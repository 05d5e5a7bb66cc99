#include "exporter/Nut.h"
#include "exporter/WebConfig.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cctype>

namespace exporter {

std::optional<std::vector<std::string>> nutWords(std::string_view line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    std::string word;
    if (line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\' && i < line.size()) word += line[i++];
        else word += c;
      }
      if (!closed) return std::nullopt;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
        const char c = line[i++];
        if (c == '\\' && i < line.size()) word += line[i++];
        else word += c;
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::string nutQuote(const std::string &text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

namespace {

// Every variable a device can have, with its description and type.
struct VariableDef {
  const char *name;
  const char *description;
  const char *type;  // NUMBER or STRING:n
};
const VariableDef kVariables[] = {
    {"ambient.humidity", "Ambient relative humidity (percent)", "NUMBER"},
    {"ambient.temperature", "Ambient temperature (degrees C)", "NUMBER"},
    {"battery.current", "Battery current (A), negative while discharging", "NUMBER"},
    {"battery.temperature", "Battery temperature (degrees C)", "NUMBER"},
    {"battery.voltage", "Battery voltage (V): the DC bus", "NUMBER"},
    {"battery.voltage.low", "DC bus voltage below which the status has LB (V)", "NUMBER"},
    {"device.mfr", "Device manufacturer", "STRING:64"},
    {"device.model", "Device model", "STRING:64"},
    {"device.type", "Device type", "STRING:16"},
    {"driver.name", "Driver name", "STRING:32"},
    {"driver.version", "Driver version", "STRING:32"},
    {"input.voltage", "AC input voltage (V)", "NUMBER"},
    {"output.current", "DC output (load) current (A)", "NUMBER"},
    {"output.voltage", "DC output (bus) voltage (V)", "NUMBER"},
    {"ups.alarm", "Alarms raised", "STRING:512"},
    {"ups.mfr", "Manufacturer", "STRING:64"},
    {"ups.model", "Model", "STRING:64"},
    {"ups.status", "Status", "STRING:64"},
};
const VariableDef *findVariable(const std::string &name) {
  for (const VariableDef &v : kVariables)
    if (name == v.name) return &v;
  return nullptr;
}

std::string labelOr(const ControllerEntry &c, const char *label, const char *otherwise) {
  const auto it = c.labels.find(label);
  return it == c.labels.end() ? otherwise : it->second;
}

std::string description(const ControllerEntry &c) {
  return "-48 V DC power system at " + c.target.lineKey() + " address " + std::to_string(c.target.address);
}

std::string upper(std::string s) {
  for (char &c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string nutStatus(const Reading &reading, double lowBatteryVolts) {
  const ReadingValues v = readingValues(reading);
  std::string s = v.acFailed ? "OB" : "OL";
  if (v.batteryAmperes > 0) s += " CHRG";
  if (v.batteryAmperes < 0) s += " DISCHRG";
  if (v.dcVolts < lowBatteryVolts) s += " LB";
  if (!v.alarms.empty()) s = "ALARM " + s;
  return s;
}

std::vector<std::pair<std::string, std::string>> nutVariables(const ControllerEntry &controller, const Reading &reading,
                                                              const NutOptions &options, const std::string &version) {
  const ReadingValues v = readingValues(reading);
  const std::string mfr = labelOr(controller, "manufacturer", "unknown");
  const std::string model = labelOr(controller, "model", "-48 V DC power system");
  std::vector<std::pair<std::string, std::string>> out = {
      {"ambient.humidity", valueText(v.humidityPercent)},
      {"ambient.temperature", valueText(v.ambientCelsius)},
      {"battery.current", valueText(v.batteryAmperes)},
      {"battery.temperature", valueText(v.batteryCelsius)},
      {"battery.voltage", valueText(v.dcVolts)},
      {"battery.voltage.low", valueText(options.lowBatteryVolts)},
      {"device.mfr", mfr},
      {"device.model", model},
      {"device.type", "ups"},
      {"driver.name", "powerhost-exporter"},
      {"driver.version", version},
      {"input.voltage", valueText(v.acVolts)},
      {"output.current", valueText(v.dcAmperes)},
      {"output.voltage", valueText(v.dcVolts)},
  };
  if (!v.alarms.empty()) {
    std::string alarms;
    for (const char *a : v.alarms) alarms += std::string(alarms.empty() ? "" : " ") + a;
    out.emplace_back("ups.alarm", alarms);
  }
  out.emplace_back("ups.mfr", mfr);
  out.emplace_back("ups.model", model);
  out.emplace_back("ups.status", nutStatus(reading, options.lowBatteryVolts));
  return out;
}

NutSession::Answer NutSession::handle(std::string_view line, const NutDevices &devices) {
  const auto err = [](const char *what) { return Answer{std::string("ERR ") + what + "\n"}; };
  const auto parsed = nutWords(line);
  if (!parsed) return err("INVALID-ARGUMENT");
  const std::vector<std::string> &w = *parsed;
  if (w.empty()) return {};
  const std::string cmd = upper(w[0]);
  const auto controller = [&](const std::string &name) -> const ControllerEntry * {
    for (const ControllerEntry &c : devices.controllers)
      if (c.name == name) return &c;
    return nullptr;
  };

  if (cmd == "VER") return {"powerhost-exporter " + devices.version + " - read-only Network UPS Tools endpoint\n"};
  if (cmd == "NETVER") return {"1.2\n"};
  if (cmd == "HELP") return {"Commands: HELP VER NETVER GET LIST USERNAME PASSWORD LOGIN LOGOUT\n"};
  if (cmd == "STARTTLS") return err("FEATURE-NOT-CONFIGURED");
  if (cmd == "LOGOUT") return {"OK Goodbye\n", true};
  if (cmd == "USERNAME" || cmd == "PASSWORD") {
    if (w.size() != 2) return err("INVALID-ARGUMENT");
    std::optional<std::string> &slot = cmd == "USERNAME" ? user_ : password_;
    if (slot) return err(cmd == "USERNAME" ? "ALREADY-SET-USERNAME" : "ALREADY-SET-PASSWORD");
    slot = w[1];
    return {"OK\n"};
  }
  if (cmd == "LOGIN") {
    if (w.size() != 2) return err("INVALID-ARGUMENT");
    if (!login_.empty()) return err("ALREADY-LOGGED-IN");
    if (!user_) return err("USERNAME-REQUIRED");
    if (!password_) return err("PASSWORD-REQUIRED");
    if (!controller(w[1])) return err("UNKNOWN-UPS");
    const auto it = devices.options.users.find(*user_);
    // the password is compared in a time that does not depend on where it differs
    if (it == devices.options.users.end() || !sameBytes(it->second, *password_)) {
      Answer a = err("ACCESS-DENIED");
      a.refusal = true;
      a.note = "LOGIN " + printable(w[1]) + " refused for user \"" + printable(*user_) + "\": " +
               (devices.options.users.empty() ? "no users in the nut section" : "wrong user or password");
      return a;
    }
    login_ = w[1];
    return {"OK\n", false, "LOGIN " + login_ + " by user \"" + *user_ + "\""};
  }
  if (cmd == "PRIMARY" || cmd == "MASTER" || cmd == "FSD" || cmd == "INSTCMD" || cmd == "SET") {
    Answer a = err(cmd == "INSTCMD" ? "CMD-NOT-SUPPORTED" : cmd == "SET" ? "READONLY" : "ACCESS-DENIED");
    a.refusal = true;
    a.note = cmd + " refused: this endpoint is read-only";
    return a;
  }
  if (cmd == "GET") {
    if (w.size() < 3) return err("INVALID-ARGUMENT");
    const std::string sub = upper(w[1]);
    const ControllerEntry *c = controller(w[2]);
    const std::string &ups = w[2];
    if (sub == "UPSDESC" || sub == "NUMLOGINS") {
      if (w.size() != 3) return err("INVALID-ARGUMENT");
      if (!c) return err("UNKNOWN-UPS");
      if (sub == "UPSDESC") return {"UPSDESC " + ups + " " + nutQuote(description(*c)) + "\n"};
      return {"NUMLOGINS " + ups + " " + std::to_string(devices.logins(ups)) + "\n"};
    }
    if (sub == "VAR" || sub == "DESC" || sub == "TYPE") {
      if (w.size() != 4) return err("INVALID-ARGUMENT");
      if (!c) return err("UNKNOWN-UPS");
      const VariableDef *def = findVariable(w[3]);
      if (sub == "DESC") return {"DESC " + ups + " " + w[3] + " " + nutQuote(def ? def->description : "Unavailable") + "\n"};
      if (sub == "TYPE") {
        if (!def) return err("VAR-NOT-SUPPORTED");
        return {"TYPE " + ups + " " + w[3] + " " + def->type + "\n"};
      }
      // a stale device says so before anything about the variable asked for
      const std::optional<Snapshot> s = devices.snapshot(ups);
      if (!s || s->stale || !s->reading) return err("DATA-STALE");
      if (!def) return err("VAR-NOT-SUPPORTED");
      for (const auto &[name, value] : nutVariables(*c, *s->reading, devices.options, devices.version))
        if (name == w[3]) return {"VAR " + ups + " " + name + " " + nutQuote(value) + "\n"};
      return err("VAR-NOT-SUPPORTED");  // ups.alarm with no alarm raised
    }
    if (sub == "CMDDESC") return err(c ? "CMD-NOT-SUPPORTED" : "UNKNOWN-UPS");
    return err("INVALID-ARGUMENT");
  }
  if (cmd == "LIST") {
    if (w.size() < 2) return err("INVALID-ARGUMENT");
    const std::string sub = upper(w[1]);
    if (sub == "UPS") {
      if (w.size() != 2) return err("INVALID-ARGUMENT");
      std::string out = "BEGIN LIST UPS\n";
      for (const ControllerEntry &c : devices.controllers) out += "UPS " + c.name + " " + nutQuote(description(c)) + "\n";
      return {out + "END LIST UPS\n"};
    }
    if (w.size() != 3) return err("INVALID-ARGUMENT");
    const ControllerEntry *c = controller(w[2]);
    const std::string &ups = w[2];
    if (sub != "VAR" && sub != "RW" && sub != "CMD" && sub != "CLIENT") return err("INVALID-ARGUMENT");
    if (!c) return err("UNKNOWN-UPS");
    if (sub == "CLIENT") return err("ACCESS-DENIED");
    const std::string head = sub + " " + ups;
    if (sub != "VAR") return {"BEGIN LIST " + head + "\nEND LIST " + head + "\n"};  // nothing writable, no command
    const std::optional<Snapshot> s = devices.snapshot(ups);
    if (!s || s->stale || !s->reading) return err("DATA-STALE");
    std::string out = "BEGIN LIST " + head + "\n";
    for (const auto &[name, value] : nutVariables(*c, *s->reading, devices.options, devices.version))
      out += "VAR " + ups + " " + name + " " + nutQuote(value) + "\n";
    return {out + "END LIST " + head + "\n"};
  }
  return err("UNKNOWN-COMMAND");
}

// One client: lines in, answers out, until it logs out, goes silent or misbehaves.
class NutServer::Connection : public QObject {
 public:
  Connection(QTcpSocket *socket, NutServer &server) : QObject(&server), socket_(socket), server_(server) {
    socket_->setParent(this);
    socket_->setReadBufferSize(16 * 1024);
    peer_ = socket_->peerAddress().toString().toStdString();
    idle_.setSingleShot(true);
    connect(&idle_, &QTimer::timeout, this, [this] { close(); });
    connect(socket_, &QTcpSocket::readyRead, this, [this] { readable(); });
    connect(socket_, &QTcpSocket::disconnected, this, [this] { close(); });
    heard();
  }
  qint64 lastHeard() const { return lastHeard_; }
  const NutSession &session() const { return session_; }
  void setIdleTimeout(int ms) {
    idle_.setInterval(ms);
    if (idle_.isActive()) idle_.start();
  }

  void close() {
    if (closed_) return;
    closed_ = true;
    idle_.stop();
    server_.forget(this);
    socket_->disconnect(this);
    socket_->abort();
    deleteLater();
  }

 private:
  void heard() {
    lastHeard_ = steadyMs();
    idle_.start(int(server_.devices_.options.idleTimeoutSeconds * 1000));
  }

  void readable() {
    while (!closed_ && !ending_) {
      const QByteArray bytes = socket_->read(16 * 1024);
      if (bytes.isEmpty()) break;
      in_.append(bytes.constData(), std::size_t(bytes.size()));
      std::size_t nl;
      while (!closed_ && !ending_ && (nl = in_.find('\n')) != std::string::npos) {
        std::string line = in_.substr(0, nl);
        in_.erase(0, nl + 1);
        if (line.size() > kMaxLine) return tooLong();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        heard();
        answer(line);
      }
      if (in_.size() > kMaxLine) return tooLong();
    }
  }

  void answer(const std::string &line) {
    const NutSession::Answer a = session_.handle(line, server_.devices_);
    if (!a.note.empty()) {
      const std::string line = "NUT: " + a.note + " (from " + peer_ + ")";
      if (a.refusal) server_.notes_(line);
      else logLine(line);
    }
    socket_->write(a.text.data(), qint64(a.text.size()));
    if (socket_->bytesToWrite() > kMaxPending) {
      server_.notes_("NUT: " + peer_ + " does not read its answers: disconnected");
      return close();
    }
    if (a.close) end();
  }

  void tooLong() {
    server_.notes_("NUT: a line over " + std::to_string(kMaxLine) + " bytes from " + peer_ + ": disconnected");
    socket_->write("ERR INVALID-ARGUMENT\n");
    end();
  }

  // The answers already written go out, then the connection closes (at the latest after
  // the idle time-out).
  void end() {
    ending_ = true;
    socket_->disconnectFromHost();
  }

  QTcpSocket *socket_;
  NutServer &server_;
  NutSession session_;
  QTimer idle_;
  std::string in_;
  std::string peer_;
  qint64 lastHeard_ = 0;
  bool closed_ = false, ending_ = false;
};

NutServer::NutServer(Exporter &exporter, const Options &options, QObject *parent)
    : QObject(parent), exporter_(exporter) {
  devices_.version = buildInfo().version;
  devices_.snapshot = [this](const std::string &name) -> std::optional<Snapshot> {
    for (Snapshot &s : exporter_.snapshots())
      if (s.name == name) return std::move(s);
    return std::nullopt;
  };
  devices_.logins = [this](const std::string &name) {
    return int(std::count_if(connections_.begin(), connections_.end(),
                             [&](const Connection *c) { return c->session().loggedInTo() == name; }));
  };
  configure(options);
  devices_.options.listenHost = options.nut.listenHost;
  devices_.options.listenPort = options.nut.listenPort;
  connect(&exporter, &Exporter::reloaded, this, [this](const Options &o) {
    if (o.nut.listenHost != devices_.options.listenHost || o.nut.listenPort != devices_.options.listenPort)
      logLine("reload: a new Network UPS Tools listen address takes effect at the next start");
    if (!o.nut.enabled) logLine("reload: the Network UPS Tools endpoint stays on until the next start");
    configure(o);
  });
  connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
  connect(&server_, &QTcpServer::acceptError, this,
          [this] { QTimer::singleShot(100, this, [this] { server_.resumeAccepting(); }); });
}

NutServer::~NutServer() {
  const auto all = connections_;
  connections_.clear();
  for (Connection *c : all) delete c;
}

void NutServer::configure(const Options &options) {
  const std::string host = devices_.options.listenHost;
  const int port = devices_.options.listenPort;
  devices_.controllers = options.controllers;
  devices_.options = options.nut;
  devices_.options.listenHost = host;  // the address listened on stays
  devices_.options.listenPort = port;
  for (Connection *c : connections_) c->setIdleTimeout(int(devices_.options.idleTimeoutSeconds * 1000));
}

bool NutServer::listen(std::string &error) {
  server_.setMaxPendingConnections(kMaxConnections);
  if (server_.listen(QHostAddress(QString::fromStdString(devices_.options.listenHost)),
                     static_cast<quint16>(devices_.options.listenPort)))
    return true;
  error = server_.errorString().toStdString();
  return false;
}

void NutServer::accept() {
  while (QTcpSocket *s = server_.nextPendingConnection()) {
    if (int(connections_.size()) >= kMaxConnections) {
      // the client silent longest makes room
      const auto oldest = std::min_element(connections_.begin(), connections_.end(),
                                           [](const Connection *a, const Connection *b) { return a->lastHeard() < b->lastHeard(); });
      (*oldest)->close();
    }
    connections_.push_back(new Connection(s, *this));
  }
}

void NutServer::forget(Connection *c) {
  connections_.erase(std::remove(connections_.begin(), connections_.end(), c), connections_.end());
}

}  // namespace exporter
