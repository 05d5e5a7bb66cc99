// The exporter's I/O: one line per serial device or TCP address, each with its link, its
// exchange and its controllers, and the HTTP endpoint. The logic is in Poll.h and Metrics.h.
//
// Threads: everything runs on the thread that created the exporter (the serial component's
// own threads stay inside it). Lines do not wait on each other: each has its own link and
// its own exchange, so a controller that does not answer holds up only the controllers on
// its own bus, and those by the time-out and the reads that bring the line back in step.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

#include "exporter/Http.h"
#include "exporter/Metrics.h"
#include "exporter/Options.h"
#include "exporter/Poll.h"

namespace exporter {

class Line;

class Exporter : public QObject {
  Q_OBJECT
 public:
  explicit Exporter(const Options &options, QObject *parent = nullptr);
  ~Exporter() override;
  // Listens and starts polling; false with the reason when the HTTP address is unusable.
  bool start(std::string &error);
  quint16 httpPort() const { return http_.port(); }
  std::string metricsText() const { return page_.text(); }

  // One controller: what it is, its poll, and what its polls have left.
  struct Controller {
    ControllerEntry entry;
    std::size_t index = 0;  // in the metrics page
    PollCycle cycle;
    ControllerState state;
    QElapsedTimer started;
    QTimer tick;
    Line *line = nullptr;
    bool saidDown = false;  // "down" was logged and "up" was not since
    Controller(const ControllerEntry &s, std::size_t i) : entry(s), index(i), cycle(uint8_t(s.target.address)) {}
  };
  // A poll ended: completed when error is null.
  void pollEnded(Controller &c, const PollError *error);

 private:
  Options options_;
  std::vector<std::unique_ptr<Controller>> controllers_;
  std::vector<Line *> lines_;
  MetricsPage page_;
  HttpServer http_;
};

}  // namespace exporter
