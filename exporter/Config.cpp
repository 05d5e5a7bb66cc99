#include "exporter/Config.h"

#include <QFile>
#include <QString>

#include <yaml-cpp/yaml.h>

#include "exporter/YamlRead.h"

#include <algorithm>
#include <set>

namespace exporter {

namespace {

using namespace yamlread;

// Label names as Prometheus takes them; the info series' own labels are taken.
void checkLabel(const std::string &name, const std::string &value, const YAML::Mark &mark, const std::string &where) {
  const bool nameOk = !name.empty() && !(name[0] >= '0' && name[0] <= '9') && name.rfind("__", 0) != 0 &&
                      std::all_of(name.begin(), name.end(), [](char c) {
                        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
                      });
  if (!nameOk)
    throw Fault{mark, where + ": \"" + name + "\" is not a label name (letters, digits and _, not a digit first, not __ first)"};
  for (const char *own : {"controller", "transport", "endpoint", "address"})
    if (name == own) throw Fault{mark, where + ": the label \"" + name + "\" is the exporter's own"};
  if (value.size() > 1024) throw Fault{mark, where + ": the value of \"" + name + "\" is longer than 1024 bytes"};
  if (QString::fromUtf8(value.data(), qsizetype(value.size())).toUtf8().toStdString() != value)
    throw Fault{mark, where + ": the value of \"" + name + "\" is not UTF-8 text"};
}

void readController(const YAML::Node &node, std::size_t index, Options &o) {
  const std::string where = "controllers[" + std::to_string(index) + "]";
  ControllerEntry entry;
  std::optional<Target> target;
  bool named = false;
  for (const auto &[key, value] : entries(node, where, {"name", "url", "labels"})) {
    if (key == "name") {
      entry.name = scalar(value, where + ".name");
      named = true;
    } else if (key == "url") {
      std::string why;
      target = parseTarget(scalar(value, where + ".url"), why);
      if (!target) throw Fault{value.Mark(), where + ".url: " + why};
    } else {
      if (value.IsNull()) continue;  // "labels:" with nothing after it
      for (const auto &[name, v] : entries(value, where + ".labels", {})) {
        const std::string text = scalar(v, where + ".labels." + name);
        checkLabel(name, text, v.Mark(), where + ".labels");
        entry.labels[name] = text;
      }
    }
  }
  if (!named || !target) throw Fault{node.Mark(), where + ": name and url are both needed"};
  entry.target = *target;
  std::string why;
  if (!addController(o, std::move(entry), why)) throw Fault{node.Mark(), where + ": " + why};
}

// The top-level keys, each with its reader.
struct Key {
  const char *name;
  void (*read)(const YAML::Node &value, Options &o);
};
template <bool (*Parse)(const std::string &, double &, std::string &)>
double seconds(const YAML::Node &v, const char *key) {
  double s = 0;
  std::string why;
  if (!Parse(scalar(v, key), s, why)) throw Fault{v.Mark(), std::string(key) + ": " + why};
  return s;
}
const Key kKeys[] = {
    {"listen",
     [](const YAML::Node &v, Options &o) {
       std::string why;
       if (!parseListen(scalar(v, "listen"), o.listenHost, o.listenPort, why)) throw Fault{v.Mark(), "listen: " + why};
     }},
    {"interval", [](const YAML::Node &v, Options &o) { o.intervalSeconds = seconds<parseInterval>(v, "interval"); }},
    {"max_age", [](const YAML::Node &v, Options &o) { o.maxAgeSeconds = seconds<parseMaxAge>(v, "max_age"); }},
    {"nut",
     [](const YAML::Node &v, Options &o) {
       o.nut.enabled = true;
       if (v.IsNull()) return;  // "nut:" alone: on, with the defaults
       for (const auto &[key, value] : entries(v, "nut", {"listen", "low_battery_voltage", "idle_timeout", "users"})) {
         const std::string k = "nut." + key;
         std::string why;
         bool ok = true;
         if (key == "listen") ok = parseListen(scalar(value, k), o.nut.listenHost, o.nut.listenPort, why);
         else if (key == "low_battery_voltage") ok = parseLowBattery(scalar(value, k), o.nut.lowBatteryVolts, why);
         else if (key == "idle_timeout") ok = parseIdleTimeout(scalar(value, k), o.nut.idleTimeoutSeconds, why);
         else if (!value.IsNull())
           for (const auto &[name, password] : entries(value, k, {})) {
             if (!checkNutUser(name, scalar(password, k + "." + name), why)) throw Fault{password.Mark(), k + ": " + why};
             o.nut.users[name] = password.Scalar();
           }
         if (!ok) throw Fault{value.Mark(), k + ": " + why};
       }
     }},
    {"controllers",
     [](const YAML::Node &v, Options &o) {
       if (v.IsNull()) return;
       if (!v.IsSequence()) throw Fault{v.Mark(), "controllers: a list is wanted here"};
       for (std::size_t i = 0; i < v.size(); ++i) readController(v[i], i, o);
     }},
};

}  // namespace

std::optional<Options> parseConfig(const std::string &yaml, std::string &error) {
  return readYaml<Options>(yaml, error, [](const YAML::Node &root, Options &o) {
    if (root.IsNull()) throw Fault{root.Mark(), "the file holds no settings"};
    std::vector<const char *> known;
    for (const Key &k : kKeys) known.push_back(k.name);
    for (const auto &[key, value] : entries(root, "the file", known))
      for (const Key &k : kKeys)
        if (key == k.name) k.read(value, o);
  });
}

bool readSettingsFile(const std::string &path, std::string &text, std::string &error) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) {
    error = path + ": " + f.errorString().toStdString();
    return false;
  }
  const QByteArray bytes = f.read(qint64(kMaxConfigBytes) + 1);
  if (bytes.size() > qsizetype(kMaxConfigBytes)) {
    error = path + ": larger than " + std::to_string(kMaxConfigBytes / (1024 * 1024)) + " MiB";
    return false;
  }
  text = bytes.toStdString();
  return true;
}

std::optional<Options> loadConfig(const std::string &path, std::string &error) {
  std::string text;
  if (!readSettingsFile(path, text, error)) return std::nullopt;
  auto o = parseConfig(text, error);
  if (!o) {
    error = path + ": " + error;
    return std::nullopt;
  }
  o->configFile = path;
  return o;
}

std::optional<Options> effectiveOptions(const Options &commandLine, std::string &error) {
  if (commandLine.configFile.empty()) {
    if (!checkOptions(commandLine, error)) return std::nullopt;
    return commandLine;
  }
  auto o = loadConfig(commandLine.configFile, error);
  if (!o) return std::nullopt;
  if (commandLine.listenGiven) {
    o->listenHost = commandLine.listenHost;
    o->listenPort = commandLine.listenPort;
  }
  if (commandLine.intervalGiven) o->intervalSeconds = commandLine.intervalSeconds;
  if (commandLine.nutListenGiven) {
    o->nut.enabled = true;
    o->nut.listenHost = commandLine.nut.listenHost;
    o->nut.listenPort = commandLine.nut.listenPort;
  }
  o->nutListenGiven = commandLine.nutListenGiven;
  o->webConfigFile = commandLine.webConfigFile;
  if (commandLine.maxAgeSeconds) o->maxAgeSeconds = commandLine.maxAgeSeconds;
  o->listenGiven = commandLine.listenGiven;
  o->intervalGiven = commandLine.intervalGiven;
  if (!checkOptions(*o, error)) {
    error = commandLine.configFile + ": " + error;
    return std::nullopt;
  }
  return o;
}

}  // namespace exporter
