#include <QApplication>

#include <csignal>

#include "window/Unit1.h"

int main(int argc, char **argv) {
  // A file-size limit fails the write that meets it (the recording says so and stops)
  // instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication app(argc, argv);
  TForm1 form;
  form.show();
  return app.exec();
}
