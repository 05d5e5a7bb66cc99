// powersim: a stand-in for the power system's monitoring controller. It answers the
// host's requests over TCP and/or a pseudo-terminal; see sim/README.md.
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

#include "sim/Controller.h"
#include "sim/Options.h"
#include "sim/Server.h"

namespace {

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop reads the pipe.
void onSignal(int sig) {
  const int saved = errno;
  unsigned char b = static_cast<unsigned char>(sig);
  [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &b, 1);
  errno = saved;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  auto options = sim::parseOptions(args, error);
  if (!options) {
    std::fprintf(stderr, "powersim: %s\n%s", error.c_str(), sim::usageText());
    return 2;
  }
  if (options->help) {
    std::fputs(sim::usageText(), stdout);
    return 0;
  }
  if (options->version) {
    std::puts("powersim " POWERHOST_VERSION);
    return 0;
  }

  std::fputs(sim::listenWarning(*options).c_str(), stderr);

  QCoreApplication app(argc, argv);
  std::signal(SIGPIPE, SIG_IGN);
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("powersim: pipe");
    return 1;
  }
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGUSR1}) ::sigaction(sig, &sa, nullptr);

  sim::Controller controller(options->controller);
  sim::Server server(*options, controller);
  if (!server.start(error)) {
    std::fprintf(stderr, "powersim: %s\n", error.c_str());
    return 1;
  }

  QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
    unsigned char sig = 0;
    while (::read(signalPipe[0], &sig, 1) == 1) {
      if (sig == SIGUSR1) {
        if (options->stats) server.printStats();
      } else {
        app.quit();
      }
    }
  });

  // --control: "raise NAME" and "clear NAME" on standard input, while it stays open
  std::unique_ptr<QSocketNotifier> control;
  std::string pending;
  if (options->control) {
    ::fcntl(0, F_SETFL, ::fcntl(0, F_GETFL) | O_NONBLOCK);
    control = std::make_unique<QSocketNotifier>(0, QSocketNotifier::Read);
    QObject::connect(control.get(), &QSocketNotifier::activated, &app, [&] {
      char buf[512];
      const ssize_t n = ::read(0, buf, sizeof buf);
      if (n <= 0) {
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) control->setEnabled(false);  // closed: no more commands
        return;
      }
      pending.append(buf, std::size_t(n));
      for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto sp = line.find(' ');
        const std::string verb = line.substr(0, sp), name = sp == std::string::npos ? "" : line.substr(sp + 1);
        std::string why;
        if (verb != "raise" && verb != "clear") why = "not raise NAME or clear NAME";
        else if (!controller.setAlarm(name, verb == "raise")) why = "unknown alarm \"" + name + "\"";
        std::printf(why.empty() ? "ok %s\n" : "error %s: %s\n", line.c_str(), why.c_str());
        std::fflush(stdout);
      }
      if (pending.size() > 4096) pending.clear();  // no line that long is a command
    });
  }

  int rc = app.exec();
  if (options->stats) server.printStats();
  return rc;
}
