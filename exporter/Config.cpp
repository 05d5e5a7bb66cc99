#include "exporter/Config.h"

#include <QFile>
#include <QString>

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <set>

namespace exporter {

namespace {

// A reading failed: the error names the line of the node it is about.
struct Fault {
  YAML::Mark mark;
  std::string what;
};

std::string lineOf(const YAML::Mark &m) { return m.line >= 0 ? "line " + std::to_string(m.line + 1) + ": " : ""; }

// The text of a scalar value; a Fault for a list, a map or nothing.
std::string scalar(const YAML::Node &n, const std::string &key) {
  if (!n.IsScalar()) throw Fault{n.Mark(), key + ": a single value is wanted here"};
  return n.Scalar();
}

// The keys of a map, each once; a Fault for anything but a map, a repeated key or one not in
// `known`.
std::vector<std::pair<std::string, YAML::Node>> entries(const YAML::Node &map, const std::string &what,
                                                        const std::vector<const char *> &known) {
  if (!map.IsMap()) throw Fault{map.Mark(), what + ": a map of keys and values is wanted here"};
  std::vector<std::pair<std::string, YAML::Node>> out;
  std::set<std::string> seen;
  for (const auto &kv : map) {
    const std::string key = scalar(kv.first, what + " key");
    if (!seen.insert(key).second) throw Fault{kv.first.Mark(), what + ": \"" + key + "\" is given twice"};
    const bool listed = std::any_of(known.begin(), known.end(), [&](const char *k) { return key == k; });
    if (!known.empty() && !listed) {
      std::string names;
      for (const char *k : known) names += std::string(names.empty() ? "" : ", ") + k;
      throw Fault{kv.first.Mark(), what + ": unknown key \"" + key + "\" (known: " + names + ")"};
    }
    out.emplace_back(key, kv.second);
  }
  return out;
}

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
    {"controllers",
     [](const YAML::Node &v, Options &o) {
       if (v.IsNull()) return;
       if (!v.IsSequence()) throw Fault{v.Mark(), "controllers: a list is wanted here"};
       for (std::size_t i = 0; i < v.size(); ++i) readController(v[i], i, o);
     }},
};

}  // namespace

std::optional<Options> parseConfig(const std::string &yaml, std::string &error) {
  Options o;
  try {
    const YAML::Node root = YAML::Load(yaml);
    if (root.IsNull()) throw Fault{root.Mark(), "the file holds no settings"};
    std::vector<const char *> known;
    for (const Key &k : kKeys) known.push_back(k.name);
    for (const auto &[key, value] : entries(root, "the file", known))
      for (const Key &k : kKeys)
        if (key == k.name) k.read(value, o);
  } catch (const Fault &f) {
    error = lineOf(f.mark) + f.what;
    return std::nullopt;
  } catch (const YAML::Exception &e) {
    error = lineOf(e.mark) + "not YAML: " + e.msg;
    return std::nullopt;
  }
  return o;
}

std::optional<Options> loadConfig(const std::string &path, std::string &error) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) {
    error = path + ": " + f.errorString().toStdString();
    return std::nullopt;
  }
  const QByteArray text = f.read(qint64(kMaxConfigBytes) + 1);
  if (text.size() > qsizetype(kMaxConfigBytes)) {
    error = path + ": larger than " + std::to_string(kMaxConfigBytes / (1024 * 1024)) + " MiB";
    return std::nullopt;
  }
  auto o = parseConfig(text.toStdString(), error);
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
