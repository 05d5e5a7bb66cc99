#include "window/SteadyTimer.h"

#include <algorithm>
#include <cmath>


namespace {
double gTimeScale = 1.0;
}

double SteadyTimer::timeScale() { return gTimeScale; }

void SteadyTimer::setTimeScale(double factor) {
  if (factor > 0) gTimeScale = factor;
}

SteadyTimer::SteadyTimer(const QString &name, int interval, bool enabled, QObject *parent)
    : QObject(parent), interval_(interval), enabled_(enabled) {
  setObjectName(name);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &SteadyTimer::timeout);
  restart();
}

void SteadyTimer::restart() {
  if (enabled_ && interval_ > 0)
    timer_.start(std::max(1, static_cast<int>(std::lround(interval_ * gTimeScale))));
  else
    timer_.stop();
}

int SteadyTimer::remainingTime() const {
  if (!timer_.isActive()) return -1;
  return static_cast<int>(std::lround(timer_.remainingTime() / gTimeScale));
}

void SteadyTimer::setInterval(int ms) {
  if (ms == interval_) return;
  interval_ = ms;
  restart();
}

void SteadyTimer::setEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  restart();
}
