// A controller on 127.0.0.1 whose answers name their requests, for tests of late answers. It
// answers every request in order, each when it falls due (ScriptedPeer), and numbers the
// requests 0, 1, 2 ... as they come; the answer to request k carries k wherever it can:
//   two-byte reads       the value k (a dry contact: its contact and code 1)
//   42/16 status         humidity k (tenths); the door alarm raised when k is odd
//   40/01 AC             voltage k (tenths)
//   41/0E readings       current k (hundredths) of the module asked for
//   42/17 module list    `modules`; other reads: one byte 1, the clock a fixed time, else zeros
// So a value k shown anywhere is the answer to request k, which must be of the kind shown.
#pragma once

#include <QStringList>

#include <functional>

#include "protocol/Commands.h"
#include "protocol/Frame.h"
#include "support/FormFixture.h"
#include "support/ScriptedPeer.h"

namespace testsupport {

struct Witness {
  ScriptedPeer peer;
  QStringList requests;  // as requestText() shows them, in the order they came
  QByteArray modules = bytes({1, 2});
  // How late the answer to request k comes, in ms (0: at once), times `scale`.
  std::function<int(int k, const QString &request)> lateMs;
  double scale = 1.0;
  QString stallAt;  // the controller stalls when this request comes
  explicit Witness(double timeScale = 1.0) : scale(timeScale) {
    peer.respond = [this](const QByteArray &request) {
      const int k = int(requests.size());
      requests << requestText(request.toStdString());
      if (requests.last() == stallAt) {
        stallAt.clear();
        peer.stall(true);
      }
      return answerTo(k, request);
    };
    peer.delayMs = [this](const QByteArray &) {
      return lateMs ? int(lateMs(int(requests.size()) - 1, requests.last()) * scale) : 0;
    };
  }
  QByteArray answerTo(int k, const QByteArray &request) const {
    const proto::Frame f = proto::parseFrame(request.toStdString()).frame;
    const proto::AnswerShape s = proto::answerShape(f.cid1, f.cid2OrRtn);
    const int hi = (k >> 8) & 0xFF, lo = k & 0xFF, first = f.data.empty() ? 0 : f.data[0];
    QByteArray data;
    if (s.kind == proto::AnswerShape::ModuleList) data = modules;
    if (s.kind == proto::AnswerShape::Fixed) switch (s.bytes) {
        case 1: data = bytes({1}); break;
        case 2:
          data = f.cid1 == 0x42 && (f.cid2OrRtn == 0x86 || f.cid2OrRtn == 0x88) ? bytes({first, 1}) : bytes({hi, lo});
          break;
        case 5: data = bytes({hi, lo, 0, 0, 0}); break;
        case 7: data = bytes({2, 7, 9, 5, 3, 3, 24}); break;
        case 11: data = bytes({first, 0x14, 0xE6, hi, lo, 1, 30, 0, 0, 0, 0}); break;
        case 18: data = bytes({0x14, 0xE6, 0, 12, 0, 240, 0, 250, 0, 255, 2, hi, lo, 0, 0, 0, 0x04, k % 2 ? 0x04 : 0}); break;
        default: data = QByteArray(s.bytes, '\0');
      }
    return answer(f.cid1, 0, data);
  }
  // Whether k is the request being answered now (the last one that came) and asked `command`
  // ("42/16", "41/0E 02").
  bool answering(int k, const QString &command) const {
    return k == requests.size() - 1 && k >= 0 && requests[k] == command;
  }
};

}  // namespace testsupport
