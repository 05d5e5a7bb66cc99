// The window's one timer class: a period that re-arming does not restart, and one time scale
// for every timer, so that tests need not wait out whole seconds.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// A timer with interval and enabled properties: setting the interval it already has, or
// enabling it while it runs, does not restart its period. Only a change of interval or a
// stop followed by a start does. An interval of 0 never fires. Unlike QTimer::start(),
// setEnabled(true) is safe to call on every pass of a handler that wants the timer running.
//
// Every timer runs at the time scale: a period of interval() ms takes interval() * scale ms
// of real time (at least 1 ms). The scale is 1, except in tests that set it (TimeScale in
// tests/support) before they make the timers they mean to speed up; the exchange's time-out
// runs on one of these timers and scales with them. interval() and remainingTime()
// are in the timer's own milliseconds, whatever the scale.
class SteadyTimer : public QObject {
  Q_OBJECT
  Q_PROPERTY(int interval READ interval WRITE setInterval)
  Q_PROPERTY(bool enabled READ isEnabled WRITE setEnabled)
 public:
  SteadyTimer(const QString &name, int interval, bool enabled, QObject *parent = nullptr);
  int interval() const { return interval_; }
  void setInterval(int ms);
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool on);
  // Milliseconds until the next tick, -1 when it does not run.
  int remainingTime() const;

  static double timeScale();
  static void setTimeScale(double factor);  // > 0; timers armed later use it

 signals:
  // Once per period while enabled. The window connects its handlers under the error display
  // (TForm1::onTimer); tests wait on it instead of sleeping.
  void timeout();

 private:
  void restart();
  QTimer timer_;
  int interval_;
  bool enabled_;
};
