// What the window shows against what the controller sent, for a test and the bench that run
// the window against the simulator (bench/bench_late.cpp, tests/test_sim_late.cpp).
//
// TruthProxy sits on loopback between the window and the controller, forwards every byte both
// ways, and keeps the frames: the requests in the order they went, the answers in the order
// they came. For a controller that answers every request, late or not, answer k is the answer
// to request k.
//
// StatusTruth watches the status page of a window behind the proxy. The window asks one thing
// at a time, so when a box changes, the answer it decodes is the answer to the last request
// that went; the box must show what that answer holds for it. A fitted module's readings must
// be those of the last readings answer for that module. Each one-second sample counts as wrong
// when anything on the page shows a value that was not its own request's answer, and as live
// when the page is not greyed.
#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Frame.h"
#include "protocol/Status.h"
#include "tests/support/TestForm.h"

namespace testsupport {

class TruthProxy {
 public:
  explicit TruthProxy(quint16 controllerPort) : controllerPort_(controllerPort) {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket *s = server_.nextPendingConnection()) {
        window_ = s;
        QObject::connect(s, &QTcpSocket::readyRead, [this, s] { forward(*s, up_, upText_, true); });
        up_.connectToHost(QHostAddress::LocalHost, controllerPort_);
      }
    });
    QObject::connect(&up_, &QTcpSocket::readyRead, [this] {
      if (window_) forward(up_, *window_, downText_, false);
    });
  }
  quint16 port() const { return server_.serverPort(); }
  std::vector<proto::Frame> requests, answers;

 private:
  void forward(QTcpSocket &from, QTcpSocket &to, std::string &text, bool request) {
    const QByteArray bytes = from.readAll();
    to.write(bytes);
    text += bytes.toStdString();
    for (;;) {
      const proto::FrameParse p = proto::parseFrame(text);
      if (p.error == proto::FrameError::Incomplete) break;
      text.erase(0, p.consumed);
      if (p.error == proto::FrameError::NoStartMark) break;
      (request ? requests : answers).push_back(p.frame);
    }
  }
  quint16 controllerPort_;
  QTcpServer server_;
  QTcpSocket up_;
  QPointer<QTcpSocket> window_;
  std::string upText_, downText_;
};

class StatusTruth {
 public:
  StatusTruth(TestForm &form, const TruthProxy &proxy) : f_(form), p_(proxy) {
    for (int n = 1; n <= status::kModules; ++n) seen_[size_t(n)] = f_.moduleTable[size_t(n)];
    const auto fields = status::measurements();
    wrongBox_.assign(fields.size(), false);
    for (size_t i = 0; i < fields.size(); ++i)
      QObject::connect(f_.findChild<QLineEdit *>(QString::fromLatin1(fields[i].box)), &QLineEdit::textChanged,
                       &timer_, [this, i](const QString &t) { boxChanged(i, t); });
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { lookAtModules(); });
    timer_.start();
    clock_.setInterval(1000);
    QObject::connect(&clock_, &QTimer::timeout, [this] { sample(); });
    clock_.start();
  }
  int samples = 0, wrongSamples = 0, liveSamples = 0;  // one a second
  int decodes = 0, wrongDecodes = 0;                  // boxes and module records changed
  QStringList wrong;                                  // what was wrong, the first few

 private:
  static int kind(const proto::Frame &r) { return r.cid1 << 8 | r.cid2OrRtn; }
  // The answer to the request that went last, when it has come.
  const proto::Frame *answerToLast() const {
    const size_t j = p_.requests.size() - 1;
    return p_.requests.empty() || p_.answers.size() <= j ? nullptr : &p_.answers[j];
  }
  void note(const QString &what) {
    ++wrongDecodes;
    if (wrong.size() < 10) wrong << what;
  }
  void boxChanged(size_t i, const QString &text) {
    const status::Measurement &m = status::measurements()[i];
    const int wanted = m.answer == StatusAnswer::System ? 0x4216 : 0x4001;
    const proto::Frame *a = answerToLast();
    ++decodes;
    const bool right = a && kind(p_.requests.back()) == wanted && a->cid2OrRtn == 0 &&
                       a->data.size() > size_t(m.offset + 1) &&
                       status::measurementText(m.encoding, a->data.data() + m.offset) == text;
    wrongBox_[i] = !right;
    if (!right) note(QStringLiteral("%1 showed %2").arg(QLatin1String(m.box), text));
  }
  // A module record that changed holds the last readings the controller sent for it.
  void lookAtModules() {
    for (int n = 1; n <= status::kModules; ++n) {
      const status::ModuleRecord &now = f_.moduleTable[size_t(n)];
      status::ModuleRecord before = seen_[size_t(n)];
      seen_[size_t(n)] = now;
      before.present = now.present;  // listed or no longer listed: no readings came
      if (now == before || !now.present) continue;
      ++decodes;
      std::optional<status::ModuleRecord> last;
      for (size_t k = std::min(p_.requests.size(), p_.answers.size()); k-- > 0;) {
        const proto::Frame &r = p_.requests[k];
        if (kind(r) != 0x410E || r.data.size() != 1 || r.data[0] != n || p_.answers[k].data.size() < 11) continue;
        status::ModuleRecord m = now;
        status::storeReadings(m, p_.answers[k].data.data());
        last = m;
        break;
      }
      wrongModule_[size_t(n)] = !last || !(*last == now);
      if (wrongModule_[size_t(n)])
        note(QStringLiteral("module %1's record").arg(n));
    }
  }
  void sample() {
    ++samples;
    bool bad = std::find(wrongBox_.begin(), wrongBox_.end(), true) != wrongBox_.end();
    for (int n = 1; n <= status::kModules; ++n) bad = bad || (wrongModule_[size_t(n)] && f_.moduleTable[size_t(n)].present);
    wrongSamples += bad;
    liveSamples += f_.findChild<QLineEdit *>(QStringLiteral("Edit16"))->isEnabled();
  }
  TestForm &f_;
  const TruthProxy &p_;
  std::vector<bool> wrongBox_;
  std::array<status::ModuleRecord, status::kModules + 1> seen_{};
  std::array<bool, status::kModules + 1> wrongModule_{};
  QTimer timer_, clock_;
};

}  // namespace testsupport
