// A controller on 127.0.0.1 that answers the status page's four reads with what the test sets:
// the status and AC data, the modules listed and each one's status bits, fault code and current.
#pragma once

#include <QTabWidget>

#include <map>
#include <optional>

#include "protocol/Frame.h"
#include "support/FormFixture.h"
#include "support/ScriptedPeer.h"

namespace testsupport {

struct ScriptedPlant {
  struct Module {
    int bits = 0, fault = 0;
    int centiamps = -1;  // -1: 8.40 A and n/100 more for module n
  };
  ScriptedPeer peer;
  QByteArray status = bytes({0x14, 0xE6, 0, 12, 0, 240, 0, 250, 0, 255, 2, 1, 194, 0, 0, 0, 0x04, 0});
  QByteArray ac = bytes({0x08, 0x98, 0, 0, 0});
  QList<int> modules = {1, 2};
  std::map<int, Module> moduleState;
  bool mute = false;               // answers nothing while set
  bool damaged = false;            // answers with a wrong checksum while set
  int statusAnswers = 1 << 30;     // status answers stop after this many
  std::optional<QByteArray> others;  // the data any other request is answered with; none: unanswered
  QStringList requests;              // each as requestText shows it

  ScriptedPlant() {
    peer.respond = [this](const QByteArray &request) {
      QByteArray reply = sound(request);
      if (damaged && reply.size() > 2) reply[reply.size() - 2] = reply[reply.size() - 2] == '0' ? '1' : '0';
      return reply;
    };
  }
  // The answer as it should be.
  QByteArray sound(const QByteArray &request) {
    const QString what = requestText(request.toStdString());
    requests << what;
    if (mute) return {};
    if (what == QLatin1String("42/16")) return statusAnswers-- > 0 ? answer(0x42, 0, status) : QByteArray();
    if (what == QLatin1String("40/01")) return answer(0x40, 0, ac);
    if (what == QLatin1String("42/17")) {
      QByteArray list;
      for (int n : modules) list.append(char(n));
      return answer(0x42, 0, list);
    }
    if (what.startsWith(QLatin1String("41/0E "))) {
      const int n = what.mid(6).toInt(nullptr, 16);
      const Module m = moduleState[n];
      const int amps = m.centiamps < 0 ? 0x0348 + n : m.centiamps;
      return answer(0x41, 0, bytes({n, 0x14, 0xE6, amps >> 8, amps & 0xFF, 1, 30, 0, 0, m.bits, m.fault}));
    }
    return others ? answer(proto::parseFrame(request.toStdString()).frame.cid1, 0, *others) : QByteArray();
  }
  int count(const QString &what) const { return int(requests.count(what)); }
  // Cycles that have read their last module.
  int cycles() const { return count(QStringLiteral("41/0E %1").arg(modules.last(), 2, 10, QLatin1Char('0'))); }
};

// Opens the window's LAN link to the plant, shows the status page and waits for the first
// polling cycle to end; false when it does not.
inline bool pollPlant(TestForm &form, ScriptedPlant &plant) {
  if (!openLan(form, plant.peer.port())) return false;
  form.PageControl1->setCurrentIndex(1);
  return waitFor([&] { return plant.cycles() >= 1; }, 5000);
}

}  // namespace testsupport
