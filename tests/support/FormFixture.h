// Drives a TestForm the way an operator would, with message boxes recorded instead of shown.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QRect>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <string_view>

#include "tests/support/TestForm.h"
#include "window/HandlerSupport.h"

class QComboBox;
class QWidget;
namespace simlaunch {
class Powersim;
}

namespace testsupport {

// While alive, message boxes are recorded here instead of being shown, and questions before
// irreversible commands are recorded and answered with answerYes.
struct MessageRecorder {
  MessageRecorder();
  ~MessageRecorder();
  QList<QPair<QString, QString>> boxes;  // (text, caption)
  bool saw(const QString &text, const QString &caption) const;
  QStringList questions;
  bool answerYes = true;
};

// While alive, the save dialog answers with this path (empty: the operator cancels).
struct SaveAs {
  explicit SaveAs(const QString &path);
  ~SaveAs();
};

// While alive, the open dialog answers with this path (empty: the operator cancels).
struct OpenFrom {
  explicit OpenFrom(const QString &path);
  ~OpenFrom();
};

// Waits until the files the window writes in the background (exports, the saved log) are
// written and what it says of them has been said.
void waitForWrites();

// The protocol log as shown, once the lines logged so far have been shown.
QStringList memoLines(const TestForm &form);
QString lastMemoLine(const TestForm &form);
// A request frame as "CID1/CID2" and its data bytes, in hexadecimal: "42/16", "41/0E 07".
QString requestText(std::string_view frame);
// The request frame last built, as requestText shows it.
QString lastRequest(const TestForm &form);
// Hands a chunk to the window as a link's receive handler does. When nothing is on the line,
// the request built last is put there first, as if it had been sent: for tests of decoders
// that need no link. Tests of the exchange itself go through a link.
void feed(TestForm &form, const QByteArray &chunk);
// Answer data of the length the command catalogue gives the answer to (cid1, cid2), taken
// from `pattern` (repeated or cut): none for a write or the module list, the pattern itself
// for a command the catalogue does not know.
QByteArray shaped(int cid1, int cid2, const QByteArray &pattern);
// A response frame (address 1, second byte = cid1) with a correct checksum.
QByteArray answer(uint8_t cid1, uint8_t rtn, const QByteArray &data, uint8_t adr = 1);
// Any text after a start mark, closed with its checksum (as nibble characters) and a carriage
// return, whether or not the text is well formed: for answers that are damaged yet pass the sum.
QByteArray sealed(const QByteArray &text);
// Text of a named line edit / state of a named check box / index of a named combo box.
QString text(const TestForm &form, const char *name);
void setText(TestForm &form, const char *name, const QString &value);
bool checked(const TestForm &form, const char *name);
int comboIndex(const TestForm &form, const char *name);
// A named combo box; null when there is none.
QComboBox *combo(const TestForm &form, const char *name);
void click(TestForm &form, const char *buttonName);
// Clicks a read button and answers the request it built.
void readAndAnswer(TestForm &form, const char *button, uint8_t rtn, const QByteArray &data);
// CID1, CID2 and data of the request frame last built.
struct Built {
  int cid1, cid2;
  QByteArray data;
};
Built built(const TestForm &form);
// A link that is "open" but has not connected: frames are built and logged, nothing leaves.
void pretendOpen(TestForm &form);
QByteArray bytes(std::initializer_list<int> values);
// Every third log line of a chain is a request: request, answer, checksum, next request ...
QStringList requestLines(const TestForm &form);
// The log line of a request frame to address 1.
QString requestLine(int cid1, int cid2, const QByteArray &data = {});
// With POWERHOST_SCREENSHOTS set to a folder: shows the window on the page and saves it there.
void screenshot(TestForm &form, int page, const char *file);
// Chooses LAN, 127.0.0.1 and the port, presses OPEN and waits for the connection.
bool openLan(TestForm &form, quint16 port);
// The same to a simulator that started; false when it did not.
bool openLan(TestForm &form, const simlaunch::Powersim &sim);
// Chooses the serial link, enters the device path and presses OPEN.
void openSerial(TestForm &form, const QString &path);
// The geometry of every named widget under root (Qt's own parts left out), by name.
QMap<QString, QRect> namedGeometries(const QWidget &root);
// While alive, every SteadyTimer made or re-armed runs `factor` times its period (0.1: a
// second in 100 ms), the window's time-out and grace period included; then the scale is 1.
// Make it before the window whose timers it is for.
struct TimeScale {
  explicit TimeScale(double factor) { SteadyTimer::setTimeScale(factor); }
  ~TimeScale() { SteadyTimer::setTimeScale(1.0); }
  TimeScale(const TimeScale &) = delete;
  TimeScale &operator=(const TimeScale &) = delete;
};
// Waits, processing events, until pred() or timeoutMs passes; returns pred().
template <class P>
bool waitFor(P pred, int timeoutMs);

}  // namespace testsupport

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
template <class P>
bool testsupport::waitFor(P pred, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::usleep(200);
  }
  return true;
}
