// The window's one timer class: a period that re-arming does not restart, and one time scale
// for every timer, so that tests need not wait out whole seconds.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// A timer with Interval/Enabled properties: setting the interval it already
// has, or enabling it while it runs, does not restart its period. Only a change of interval
// or a stop followed by a start does. An interval of 0 never fires.
//
// Every timer runs at the time scale: a period of Interval() ms takes Interval() * scale ms
// of real time (at least 1 ms). The scale is 1, except in tests that set it (TimeScale in
// tests/support) before they make the timers they mean to speed up; the exchange's time-out
// and grace period run on these timers and scale with them. Interval() and RemainingTime()
// are in the timer's own milliseconds, whatever the scale.
class SteadyTimer : public QObject {
  Q_OBJECT
 public:
  SteadyTimer(QObject *parent, const QString &name, int interval, bool enabled);
  int Interval() const { return interval_; }
  void SetInterval(int ms);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on);
  // Milliseconds until the next tick, -1 when it does not run.
  int RemainingTime() const;
  std::function<void()> OnTimer;

  static double timeScale();
  static void setTimeScale(double factor);  // > 0; timers armed later use it

 signals:
  // After every tick's OnTimer: what tests wait on instead of sleeping.
  void ticked();

 private:
  void restart();
  QTimer timer_;
  int interval_;
  bool enabled_;
};
