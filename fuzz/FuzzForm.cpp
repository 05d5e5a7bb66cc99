#include "fuzz/FuzzForm.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>

#include "window/HandlerSupport.h"
#include "tests/support/TestForm.h"

namespace fuzz {

bool exceptionsAreFaults = false;

namespace {
int argc = 1;
char arg0[] = "powerhost-fuzz";
char *argv[] = {arg0, nullptr};

struct Exit {
  const char *what;
  const unsigned long long *counter;
  QElapsedTimer clock;
};
Exit *exitReport = nullptr;

void report() {
  if (!exitReport) return;
  const double s = exitReport->clock.elapsed() / 1000.0;
  std::fprintf(stderr, "%s: %llu in %.0f s (%.0f per second)\n", exitReport->what, *exitReport->counter, s,
               s > 0 ? *exitReport->counter / s : 0.0);
}
}  // namespace

TestForm &form() {
  static TestForm *window = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv);  // lives as long as the process
    SetMessageBoxHook([](const QString &text, const QString &caption) {
      if (exceptionsAreFaults && caption == QLatin1String(kApplicationTitle)) {
        std::fprintf(stderr, "exception escaped a handler: %s\n", qPrintable(text));
        std::abort();
      }
    });
    return new TestForm;
  }();
  return *window;
}

void settle() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void countAtExit(const char *what, const unsigned long long *counter) {
  exitReport = new Exit{what, counter, {}};
  exitReport->clock.start();
  std::atexit(report);
}

}  // namespace fuzz
