// Paces the repaints of a top-level window: at most one every kIntervalMs. A chain of
// exchanges changes a few boxes with every answer; they are painted together once the chain
// has moved on, instead of after every answer while the controller's next answer waits. The
// first change after a quiet spell is painted at once, so a click still shows without delay.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

class PaintPacer : public QObject {
 public:
  static constexpr int kIntervalMs = 20;
  explicit PaintPacer(QWidget *window);
  int paints() const { return paints_; }  // repaints let through or delivered, for the checks

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  void deliver();

  QWidget *window_;
  QElapsedTimer lastPaint_;
  QTimer deferred_;
  bool delivering_ = false;
  int paints_ = 0;
};
