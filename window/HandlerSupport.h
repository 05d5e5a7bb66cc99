// The few toolkit behaviours the window relies on, in one place: timers that keep their
// period when re-armed, the message box, the integer conversion error and the default
// error display that every event handler runs under.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <stdexcept>

// A timer with Interval/Enabled properties: setting the interval it already
// has, or enabling it while it runs, does not restart its period. Only a change of interval
// or a stop followed by a start does. An interval of 0 never fires.
class SteadyTimer : public QObject {
  Q_OBJECT
 public:
  SteadyTimer(QObject *parent, const QString &name, int interval, bool enabled);
  int Interval() const { return interval_; }
  void SetInterval(int ms);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on);
  // Milliseconds until the next tick, -1 when it does not run.
  int RemainingTime() const { return timer_.isActive() ? timer_.remainingTime() : -1; }
  std::function<void()> OnTimer;

 private:
  void restart();
  QTimer timer_;
  int interval_;
  bool enabled_;
};

// The conversion error of the standard integer conversion.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Decimal text to a signed 32-bit integer: leading blanks and one sign allowed, nothing
// after the digits. Throws EConvertError "'text' is not a valid integer value".
int StrToInt(const QString &text);

// A box with the text, the caption and one OK button, with no owner window: the main window
// stays usable and timers keep running while it is shown; the call returns when it is closed.
void ShowMessageBox(const QString &text, const QString &caption);
// Replaces the box (tests record the calls); an empty function restores the real box.
using MessageBoxHook = std::function<void(const QString &text, const QString &caption)>;
void SetMessageBoxHook(MessageBoxHook hook);

// Asks before a command that cannot be undone (it erases the controller's data or switches
// power equipment): a question box with Yes and No, No the default and Esc meaning No. True
// only for Yes. It waits (timers keep running) and the window takes no clicks meanwhile.
bool AskYesNo(const QString &question);
// Replaces the question (tests answer it); an empty function restores the real box.
using YesNoHook = std::function<bool(const QString &question)>;
void SetYesNoHook(YesNoHook hook);
constexpr const char *kConfirmCaption = "确认";

// Asks the operator where to save a file: the path chosen, or an empty text when cancelled.
QString AskSaveFileName(const QString &caption, const QString &suggestedName, const QString &filter);
// Replaces the dialog (tests answer with a path); an empty function restores the dialog.
using SaveFileNameHook = std::function<QString(const QString &caption, const QString &suggestedName)>;
void SetSaveFileNameHook(SaveFileNameHook hook);

// The default error display: an exception that escapes an event handler abandons the
// handler and is shown in a message box with the exception's text.
void ShowException(const std::exception &e);
constexpr const char *kApplicationTitle = "powerhost";

// Shows a text in a control (a line edit, a label, a grid cell): a text it already shows is
// left alone, so an unchanged reading is not laid out, announced or painted again.
template <class Control>
void showText(Control *control, const QString &text) {
  if (control->text() != text) control->setText(text);
}

template <class F>
void guarded(F &&handler) {
  try {
    handler();
  } catch (const std::exception &e) {
    ShowException(e);
  }
}
