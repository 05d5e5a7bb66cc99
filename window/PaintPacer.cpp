#include "window/PaintPacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

PaintPacer::PaintPacer(QWidget *window) : QObject(window), window_(window) {
  deferred_.setSingleShot(true);
  deferred_.setTimerType(Qt::PreciseTimer);
  connect(&deferred_, &QTimer::timeout, this, &PaintPacer::deliver);
  window->installEventFilter(this);
}

// The toolkit asks a window to paint what has changed with one update request; while one is
// outstanding it asks no more. A request inside the interval is held back and delivered when
// the interval is over, with everything that changed meanwhile.
bool PaintPacer::eventFilter(QObject *watched, QEvent *event) {
  if (watched != window_ || event->type() != QEvent::UpdateRequest || delivering_) return false;
  const qint64 since = lastPaint_.isValid() ? lastPaint_.elapsed() : kIntervalMs;
  if (since < kIntervalMs) {
    if (!deferred_.isActive()) deferred_.start(static_cast<int>(kIntervalMs - since));
    return true;
  }
  deferred_.stop();
  lastPaint_.start();
  ++paints_;
  return false;
}

void PaintPacer::deliver() {
  delivering_ = true;
  QEvent request(QEvent::UpdateRequest);
  QCoreApplication::sendEvent(window_, &request);
  delivering_ = false;
  lastPaint_.start();
  ++paints_;
}
