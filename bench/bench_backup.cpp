// Measures a full backup by powerhost-cli over a serial line: the simulator plays the
// controller on a pseudo-terminal paced as a line of the given baud rate, and the program
// reads every parameter into a file. Compares the wall time of the whole program (start-up,
// opening the line, every read, writing the file) with the line time of its requests and
// answers: every character of both, 10 bits each. The simulator paces only its answers (what
// the program writes reaches it at once through the pseudo-terminal), so the time of the
// answers alone is shown as well: the host's own share is the wall time beyond it.
//   bench_backup [runs] [baud]     default 5 runs, 9600 baud
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "protocol/Commands.h"
#include "protocol/ParamFile.h"
#include "sim/launch/Powersim.h"

namespace {
// A frame's characters for n data bytes: "~", ADR CID1 CID2/RTN LEN and the checksum as two
// characters each, the data, the end mark.
int frameChars(int dataBytes) { return 1 + 2 * (4 + dataBytes) + 4 + 1; }
}  // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
  const int baud = argc > 2 ? std::max(300, atoi(argv[2])) : 9600;

  long chars = 0, answerChars = 0;
  int requests = 0;
  for (const params::ParamDef *row : paramfile::fileParams()) {
    const proto::AnswerShape shape = proto::commandDef(row->readCommand).shape;
    chars += frameChars(int(paramfile::readData(*row).size())) + frameChars(shape.bytes);
    answerChars += frameChars(shape.bytes);
    ++requests;
  }
  const double lineMs = chars * 10.0 * 1000.0 / baud;
  const double answersMs = answerChars * 10.0 * 1000.0 / baud;

  simlaunch::Powersim sim({QStringLiteral("--baud"), QString::number(baud), QStringLiteral("--pty")});
  if (!sim.ok()) return std::fprintf(stderr, "powersim did not start\n"), 1;
  QTemporaryDir dir;
  const QString url = QStringLiteral("serial:%1?baud=%2").arg(sim.ptyPath()).arg(baud);
  std::vector<double> wall;
  for (int i = 0; i < runs; ++i) {
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral(CLI_PATH), {url, QStringLiteral("backup"), dir.filePath(QStringLiteral("b%1.json").arg(i))});
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
      return std::fprintf(stderr, "backup failed: %s\n", p.readAllStandardError().constData()), 1;
    wall.push_back(double(t.elapsed()));
  }
  std::sort(wall.begin(), wall.end());
  const double median = wall[wall.size() / 2];
  std::printf("backup of %d parameters at %d baud: %ld characters on the line, line time %.0f ms\n", requests, baud,
              chars, lineMs);
  std::printf("wall time over %d runs: min %.0f ms, median %.0f ms, max %.0f ms\n", runs, wall.front(), median,
              wall.back());
  std::printf("median / line time = %.2f (bound 1.30): %s\n", median / lineMs, median <= 1.3 * lineMs ? "within" : "beyond");
  std::printf("the answers alone (what the simulator paces): %ld characters, %.0f ms; median / that = %.2f\n",
              answerChars, answersMs, median / answersMs);
  return median <= 1.3 * lineMs ? 0 : 2;
}
