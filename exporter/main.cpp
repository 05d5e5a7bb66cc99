// powerhost-exporter: polls power controllers and serves their status to Prometheus.
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <memory>
#include <cstdio>
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include "exporter/Config.h"
#include "exporter/Exporter.h"
#include "exporter/Nut.h"
#include "exporter/Options.h"
#include "exporter/WebConfig.h"

namespace {
int signalPipe[2] = {-1, -1};

// The signal's number goes through the pipe to the event loop.
void onSignal(int number) {
  const char c = char(number);
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

// The soft open-file limit goes up to the hard one: every controller line holds descriptors.
void raiseOpenFileLimit() {
  rlimit l{};
  if (getrlimit(RLIMIT_NOFILE, &l) != 0 || l.rlim_cur == l.rlim_max) return;
  rlimit raised = l;
  raised.rlim_cur = l.rlim_max;
  if (setrlimit(RLIMIT_NOFILE, &raised) != 0) {
    // an unlimited hard limit may be above what the kernel allows one process
    raised.rlim_cur = 1 << 20;
    while (raised.rlim_cur > l.rlim_cur && setrlimit(RLIMIT_NOFILE, &raised) != 0) raised.rlim_cur /= 2;
  }
}
}  // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const auto commandLine = exporter::parseOptions(args, error);
  if (!commandLine) {
    std::fprintf(stderr, "powerhost-exporter: %s (see --help)\n", error.c_str());
    return 2;
  }
  if (commandLine->help) {
    std::fputs(exporter::usageText(), stdout);
    return 0;
  }
  if (commandLine->version) {
    const exporter::BuildInfo b = exporter::buildInfo();
    std::printf("powerhost-exporter %s (revision %s, Qt %s)\n", b.version.c_str(), b.revision.c_str(),
                b.qtVersion.c_str());
    return 0;
  }
  const auto options = exporter::effectiveOptions(*commandLine, error);
  if (!options) {
    std::fprintf(stderr, "powerhost-exporter: %s\n", error.c_str());
    return 2;
  }
  // A peer that hangs up while an answer goes out must not end the program.
  std::signal(SIGPIPE, SIG_IGN);
  // A rendered page (megabytes with many controllers) goes back to the system once no
  // client holds it, rather than staying in the heap between scrapes.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  raiseOpenFileLimit();
  QCoreApplication app(argc, argv);
  // read once the application exists: the TLS library is loaded as a plug-in of it
  exporter::WebConfig web;
  if (!options->webConfigFile.empty()) {
    const auto read = exporter::loadWebConfig(options->webConfigFile, error);
    if (!read) {
      std::fprintf(stderr, "powerhost-exporter: %s\n", error.c_str());
      return 2;
    }
    web = *read;
  }

  // SIGTERM and SIGINT end the event loop cleanly, SIGHUP reloads the configuration; all
  // reach the event loop through a pipe.
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("powerhost-exporter: pipe");
    return 1;
  }
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);

  const std::string warning = exporter::listenWarning(*options, web.tls.has_value(), !web.users.empty());
  if (!warning.empty()) std::fprintf(stderr, "powerhost-exporter: %s\n", warning.c_str());
  int status = 0;
  {
    exporter::Exporter ex(*commandLine, *options, web);
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&ex] {
      char c = 0;
      while (::read(signalPipe[0], &c, 1) == 1) {
        if (c == SIGHUP) {
          std::string why;
          ex.reload(why);  // says itself how it went
        } else {
          QCoreApplication::quit();
        }
      }
    });
    if (!ex.start(error)) {
      std::fprintf(stderr, "powerhost-exporter: cannot listen on %s:%d: %s\n", options->listenHost.c_str(),
                   options->listenPort, error.c_str());
      return 1;
    }
    const auto address = [](const std::string &host, quint16 port) {
      const bool v6 = host.find(':') != std::string::npos;
      return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
    };
    // the Network UPS Tools endpoint, when it is on, says where it listens first
    std::unique_ptr<exporter::NutServer> nut;
    if (options->nut.enabled) {
      nut = std::make_unique<exporter::NutServer>(ex, *options);
      if (!nut->listen(error)) {
        std::fprintf(stderr, "powerhost-exporter: cannot listen on %s for Network UPS Tools: %s\n",
                     address(options->nut.listenHost, quint16(options->nut.listenPort)).c_str(), error.c_str());
        return 1;
      }
      std::printf("nut listening %s\n", address(options->nut.listenHost, nut->port()).c_str());
    } else {
      QObject::connect(&ex, &exporter::Exporter::reloaded, &app, [](const exporter::Options &o) {
        if (o.nut.enabled) exporter::logLine("reload: the Network UPS Tools endpoint starts at the next start");
      });
    }
    std::printf("listening %s\n", address(options->listenHost, ex.httpPort()).c_str());
    std::fflush(stdout);
    status = app.exec();
  }
  return status;
}
