#include <QApplication>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "window/Unit1.h"

namespace {

const char kUsage[] =
    "Usage: powerhost [--help | --version] [Qt options]\n"
    "\n"
    "Opens the host window for the monitoring controller of a -48 V DC power system.\n"
    "From the window the operator connects to one controller over a serial line\n"
    "(RS232/485) or over the LAN as a TCP client, reads and writes its parameters,\n"
    "watches its live status, switches rectifier modules on and off, and reads the\n"
    "alarm history and the energy statistics. The window stores nothing on disk:\n"
    "every run starts from its defaults.\n"
    "\n"
    "  --help             this text\n"
    "  --version          the program's version\n"
    "\n"
    "Every other argument goes to Qt, for example:\n"
    "  -platform NAME     the window system plug-in (xcb, wayland, offscreen)\n"
    "  -style NAME        the widget style (fusion, windows)\n"
    "\n"
    "powersim(1) simulates a controller to try the window with; powerhost-exporter(1)\n"
    "polls many controllers for Prometheus.\n";

}  // namespace

int main(int argc, char **argv) {
  // A file-size limit fails the write that meets it (the recording says so and stops)
  // instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  // Answered before the application object exists, so they need no display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("powerhost " POWERHOST_VERSION);
      return 0;
    }
  }
  QApplication app(argc, argv);
  TForm1 form;
  form.show();
  return app.exec();
}
