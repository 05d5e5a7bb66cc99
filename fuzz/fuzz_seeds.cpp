// Writes the seed inputs of both fuzzing programs, one per row of the routing table, so a
// decoder added to the table is covered without touching anything here.
//   fuzz_seeds RECEIVE_DIR BUILDER_DIR
// A receive seed holds the simulated controller's answer to that row's request (for rows
// that need request data, the first of a few plain candidates the controller accepts),
// once as the serial line and once as the LAN delivers it with the chains running. A
// builder seed holds the texts that build that row's request.
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <string>
#include <vector>

#include "protocol/Frame.h"
#include "window/Routing.h"
#include "sim/Controller.h"

namespace {

bool write(const QString &dir, const QString &name, const std::string &bytes) {
  QFile f(QDir(dir).filePath(name));
  return f.open(QIODevice::WriteOnly) && f.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
                                             static_cast<qint64>(bytes.size());
}

std::string hex(const std::vector<uint8_t> &bytes) {
  std::string s;
  for (uint8_t b : bytes) {
    const char digits[] = "0123456789ABCDEF";
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fuzz_seeds RECEIVE_DIR BUILDER_DIR\n");
    return 2;
  }
  const QString receiveDir = QString::fromLocal8Bit(argv[1]), builderDir = QString::fromLocal8Bit(argv[2]);
  QDir().mkpath(receiveDir);
  QDir().mkpath(builderDir);

  sim::ControllerConfig config;
  config.modules = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  sim::Controller controller(config);
  // request data the controller's commands take: none, a module or contact, a record index,
  // a month, a 16-bit value
  const std::vector<std::vector<uint8_t>> candidates = {{}, {0x01}, {0x00, 0x01}, {0x00, 0x64}};

  const auto routes = allRoutes();
  int written = 0;
  for (std::size_t i = 0; i < routes.size(); ++i) {
    const Route &r = routes[i];
    std::string answer;
    std::vector<uint8_t> used;
    for (const auto &data : candidates) {
      const auto a = controller.answer(proto::encodeFrame(controller.address(), r.cid1, r.cid2, data));
      if (!a) continue;
      const proto::FrameParse p = proto::parseFrame(*a);
      if (answer.empty() || (p.error == proto::FrameError::None && p.frame.cid2OrRtn == sim::kRtnOk)) {
        answer = *a;
        used = data;
      }
      if (p.error == proto::FrameError::None && p.frame.cid2OrRtn == sim::kRtnOk) break;
    }
    if (answer.empty() || answer.size() > 255) {
      std::fprintf(stderr, "no answer for %02X/%02X\n", r.cid1, r.cid2);
      return 1;
    }
    const QString name = QStringLiteral("%1%2").arg(r.cid1, 2, 16, QLatin1Char('0')).arg(r.cid2, 2, 16, QLatin1Char('0'));
    const std::string chunk = std::string(1, static_cast<char>(answer.size())) + answer;
    const char row = static_cast<char>(i);
    bool ok = write(receiveDir, name + QStringLiteral("-serial"), std::string{row, 0x00} + chunk) &&
              write(receiveDir, name + QStringLiteral("-lan-chains"), std::string{row, 0x1F} + chunk + chunk);

    char cids[8];
    std::snprintf(cids, sizeof cids, "%02X%c%02X", r.cid1, 0, r.cid2);
    const std::string texts = std::string("1") + '\0' + std::string(cids, 5) + '\0' + hex(used) + '\0' + "53.25";
    ok = ok && write(builderDir, name, std::string(1, static_cast<char>(i % 3)) + texts);
    if (!ok) {
      std::fprintf(stderr, "cannot write the seeds\n");
      return 1;
    }
    ++written;
  }
  std::printf("%d rows of the routing table seeded\n", written);
  return 0;
}
