// The exporter's I/O: one line per serial device or TCP address, each with its link, its
// exchange and its controllers, and the HTTP endpoint. The logic is in Poll.h and Metrics.h.
//
// Threads: everything runs on the thread that created the exporter (the serial component's
// own threads stay inside it). Lines do not wait on each other: each has its own link and
// its own exchange, so a controller that does not answer holds up only the controllers on
// its own bus, and those by the time-out and the reads that bring the line back in step.
//
// Lifecycle: start() listens and starts every controller; reload() reads the configuration
// file again and applies it: controllers added start, removed ones stop, ones whose URL
// changed start afresh, and the others keep their counters, their line and their schedule
// (a change of labels only relabels them). Other endpoints follow a reload through the
// signal reloaded().
//
// Descriptors: each TCP line holds one, each serial line three, and the HTTP endpoint keeps
// HttpServer::kDescriptors of its own with a few to spare. Lines that would go beyond the
// open-file limit are not opened: their controllers are not polled, and one line on stderr
// says which, at start and at every reload that leaves some out.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "exporter/Http.h"
#include "exporter/Metrics.h"
#include "exporter/Options.h"
#include "exporter/Poll.h"
#include "exporter/WebConfig.h"

namespace exporter {

class Line;

// What an endpoint may serve of one controller: its last completed reading, when that poll
// completed, and whether it is stale (older than the max-age, or none yet): a stale reading
// is not served, as on the metrics page.
struct Snapshot {
  std::string name;
  bool up = false;
  bool stale = true;
  std::optional<Reading> reading;  // the last completed poll's, kept when stale
  double readSeconds = 0;          // Unix time that poll completed
};

// Descriptors a line of this kind holds while open.
int lineDescriptors(const Target &target);
// Descriptors kept free beyond the lines and the HTTP endpoint (a configuration file being
// read, a connection refused while all slots are taken, the runtime's own).
constexpr int kSpareDescriptors = 16;
// Descriptors kept for the endpoints beside HTTP when one runs (the Network UPS Tools
// endpoint: its connections and its listening socket).
constexpr int kOtherEndpointDescriptors = 33;
// This build's version, revision and Qt version.
BuildInfo buildInfo();

class Exporter : public QObject {
  Q_OBJECT
 public:
  // commandLine: the arguments as given (read again at each reload with the files they
  // name); options: what they gave at start (effectiveOptions); web: the web configuration
  // read at start (empty: plain HTTP, no authentication).
  Exporter(const Options &commandLine, const Options &options, const WebConfig &web = {},
           QObject *parent = nullptr);
  ~Exporter() override;
  // Listens and starts polling; false with the reason when the HTTP address is unusable.
  bool start(std::string &error);
  quint16 httpPort() const { return http_.port(); }
  // Reads the configuration file and the web configuration file again and applies them.
  // False with the reason (also logged) when there is neither or one is not valid: the
  // running configuration stays, both files' parts of it.
  bool reload(std::string &why);
  const Options &options() const { return options_; }
  // Every configured controller, in the configuration's order.
  std::vector<Snapshot> snapshots() const;
  // The metrics page for a scrape: rendered again when something changed and the last one
  // is at least kRenderGapMs old; until then every scrape shares it.
  std::shared_ptr<const RenderedPage> page();
  static constexpr int kRenderGapMs = 500;

  // One controller: what it is, its poll, and what its polls have left.
  struct Controller {
    ControllerEntry entry;
    std::size_t index = 0;  // in the metrics page
    PollCycle cycle;
    ControllerState state;
    QElapsedTimer started;
    QTimer tick;
    Line *line = nullptr;    // none while it has no descriptor
    bool saidDown = false;   // "down" was logged and "up" was not since
    bool retired = false;    // removed by a reload; its line may still hold a request of it
    Controller(const ControllerEntry &s, std::size_t i) : entry(s), index(i), cycle(uint8_t(s.target.address)) {}
  };
  // A poll ended: completed when error is null.
  void pollEnded(Controller &c, const PollError *error);

 signals:
  // A reload applied a new configuration.
  void reloaded(const exporter::Options &options);

 private:
  struct Changes {
    int added = 0, removed = 0, restarted = 0;
  };
  Changes apply(const Options &next);
  void retire(std::unique_ptr<Controller> c);
  void openLines();
  void closeIdleLines();
  const Target &lineTarget(const Line *line) const;
  static constexpr int kRetiredPerLine = 32;  // removed controllers a bus line keeps before it is opened afresh
  Options commandLine_;
  Options options_;
  std::vector<std::unique_ptr<Controller>> controllers_;  // in the configuration's order
  std::vector<std::unique_ptr<Controller>> retired_;      // until their line closes
  std::map<std::string, Line *> lines_;                   // by Target::lineKey()
  int baseDescriptors_ = 0;                               // open before the exporter's own
  // kOtherEndpointDescriptors when the Network UPS Tools endpoint runs (it starts with the
  // exporter, and stays as it started until the next start)
  int otherEndpointDescriptors_ = 0;
  MetricsPage page_;
  double lastReloadSeconds_ = 0;
  std::weak_ptr<const RenderedPage> rendered_;
  std::shared_ptr<const RenderedPage> held_;  // the last page, for kRenderGapMs
  QTimer release_;
  double renderedAt_ = 0, renderedStaleAt_ = 0;
  uint64_t renderedGeneration_ = 0, pageSerial_ = 0;
  HttpServer http_;
};

}  // namespace exporter
