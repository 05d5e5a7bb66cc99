// Reading YAML settings files (yaml-cpp) the one way every file of the exporter is read: a
// mistake is a Fault naming the line of the node it is about, a map's keys are each given
// once and, where the keys are known, a key nobody knows is an error.
#pragma once

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace exporter::yamlread {

// A reading failed at mark.
struct Fault {
  YAML::Mark mark;
  std::string what;
};

inline std::string lineOf(const YAML::Mark &m) {
  return m.line >= 0 ? "line " + std::to_string(m.line + 1) + ": " : "";
}

// The text of a scalar value; a Fault for a list, a map or nothing.
inline std::string scalar(const YAML::Node &n, const std::string &key) {
  if (!n.IsScalar()) throw Fault{n.Mark(), key + ": a single value is wanted here"};
  return n.Scalar();
}

// The keys of a map, each once; a Fault for anything but a map, a repeated key or one not in
// `known` (any key when known is empty).
inline std::vector<std::pair<std::string, YAML::Node>> entries(const YAML::Node &map, const std::string &what,
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

// A list of scalars; a Fault for anything else.
inline std::vector<std::string> scalarList(const YAML::Node &n, const std::string &key) {
  if (n.IsNull()) return {};
  if (!n.IsSequence()) throw Fault{n.Mark(), key + ": a list is wanted here"};
  std::vector<std::string> out;
  for (const auto &item : n) out.push_back(scalar(item, key));
  return out;
}

// true or false, nothing else.
inline bool boolean(const YAML::Node &n, const std::string &key) {
  const std::string v = scalar(n, key);
  if (v == "true") return true;
  if (v == "false") return false;
  throw Fault{n.Mark(), key + ": \"" + v + "\" is not true or false"};
}

// Reads a file's text into a T with read(root, t); nullopt with one line in error (the line of
// the file, when there is one, and what is wrong) for a Fault or text that is not YAML.
template <class T, class Read>
std::optional<T> readYaml(const std::string &text, std::string &error, Read read) {
  T out{};
  try {
    read(YAML::Load(text), out);
  } catch (const Fault &f) {
    error = lineOf(f.mark) + f.what;
    return std::nullopt;
  } catch (const YAML::Exception &e) {
    error = lineOf(e.mark) + "not YAML: " + e.msg;
    return std::nullopt;
  }
  return out;
}

}  // namespace exporter::yamlread
