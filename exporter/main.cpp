// powerhost-exporter: polls power controllers and serves their status to Prometheus.
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "exporter/Exporter.h"
#include "exporter/Options.h"

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}
}  // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const auto options = exporter::parseOptions(args, error);
  if (!options) {
    std::fprintf(stderr, "powerhost-exporter: %s (see --help)\n", error.c_str());
    return 2;
  }
  if (options->help) {
    std::fputs(exporter::usageText(), stdout);
    return 0;
  }
  if (options->version) {
    std::puts("powerhost-exporter " POWERHOST_VERSION);
    return 0;
  }
  // A peer that hangs up while an answer goes out must not end the program.
  std::signal(SIGPIPE, SIG_IGN);
  QCoreApplication app(argc, argv);

  // SIGTERM and SIGINT reach the event loop through a pipe and end it cleanly.
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("powerhost-exporter: pipe");
    return 1;
  }
  QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);

  const std::string warning = exporter::listenWarning(*options);
  if (!warning.empty()) std::fprintf(stderr, "powerhost-exporter: %s\n", warning.c_str());
  int status = 0;
  {
    exporter::Exporter ex(*options);
    if (!ex.start(error)) {
      std::fprintf(stderr, "powerhost-exporter: cannot listen on %s:%d: %s\n", options->listenHost.c_str(),
                   options->listenPort, error.c_str());
      return 1;
    }
    const bool v6 = options->listenHost.find(':') != std::string::npos;
    std::printf("listening %s%s%s:%u\n", v6 ? "[" : "", options->listenHost.c_str(), v6 ? "]" : "",
                unsigned(ex.httpPort()));
    std::fflush(stdout);
    status = app.exec();
  }
  return status;
}
