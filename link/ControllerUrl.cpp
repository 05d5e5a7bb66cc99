#include "link/ControllerUrl.h"

#include <QHostAddress>
#include <QString>
#include <QTcpSocket>

#include <algorithm>
#include <charconv>
#include <set>

#include "link/Comm.h"
#include "link/LanLink.h"
#include "link/SerialLink.h"

namespace linkurl {

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

namespace {

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

std::string Target::url() const {
  if (kind == Kind::Tcp) return lineKey() + "?address=" + std::to_string(address);
  return lineKey() + "?baud=" + std::to_string(baud) + "&address=" + std::to_string(address);
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

Link *createLink(const Target &target, QObject *parent) {
  if (target.kind == Target::Kind::Tcp) {
    auto *lan = new LanLink(new QTcpSocket(parent), parent);
    lan->setTarget(QString::fromStdString(target.host), static_cast<quint16>(target.port));
    return lan;
  }
  auto *comm = new TComm(parent);
  comm->SetCommName(QString::fromStdString(target.device));
  comm->SetBaudRate(static_cast<uint32_t>(target.baud));
  setControllerLine(*comm);
  return new SerialLink(comm, parent);
}

}  // namespace linkurl
