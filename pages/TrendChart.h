// The trend chart of the "趋势" page: one plot per unit (V, A, °C, %RH), stacked and sharing
// the time axis, each with its own value axis and its legend above it (name and unit, a click
// hides or shows the line). Eight colours that stay apart for colour-blind readers. A line
// breaks where the samples do (trend::runStarts). Times are shown in the status-bar clock's
// zone (pages/ClockZone.h), the axis named "时间(UTC+8)".
//
// The plots are Qt Charts charts, one QChartView per unit, laid out and fed by this widget:
// it keeps the view, the thinned points, the runs, the value ranges and the readout; the
// charts draw the plots, their grids and lines, and this widget the legend, the axes' labels
// and the readout, and takes the mouse for all plots (the chart views let it through).
//
// The view follows the newest samples over the chosen span until the operator zooms (wheel)
// or drags the time axis; "复位" (or a double click) follows again. Moving the mouse over a
// plot shows the time and every shown line's value there.
//
// Cost: refresh() thins each series to at most two points per two pixel columns
// (trend::decimate), so a day draws as fast as ten minutes; the charts stroke those points
// without antialiasing, one pixel wide where they are dense, one line series per run (a small
// pool per quantity). All of it runs on the window's thread.
#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QRect>
#include <QWidget>

#include <array>
#include <optional>
#include <span>
#include <vector>

#include "pages/TrendStore.h"

class QChart;
class QChartView;
class QCategoryAxis;
class QLineSeries;
class QValueAxis;

// The colour of a quantity's line: the eight of a palette made for colour-blind readers.
QColor trendColour(int quantity);

class TrendChartView : public QWidget {
  Q_OBJECT
 public:
  explicit TrendChartView(QWidget *parent);
  // The series drawn; the chart keeps the pointer (they outlive it).
  void setSeries(const std::array<trend::Series, trend::kQuantities> *series) { series_ = series; }
  // Draws the series anew: the view ends at `now` (or at the newest sample, when later) and
  // spans `spanMs`, unless the operator has zoomed or dragged it.
  void refresh(qint64 now, qint64 spanMs);
  // Back to following the newest samples over the chosen span.
  void resetView();
  // Zooms the time axis by `factor` (below 1 in) around the time `at`; pans by `ms`.
  void zoom(double factor, qint64 at);
  void pan(qint64 ms);
  bool following() const { return following_; }
  qint64 viewBegin() const { return begin_; }
  qint64 viewEnd() const { return end_; }

  void setLineShown(int quantity, bool shown);
  bool lineShown(int quantity) const { return shown_[size_t(quantity)]; }
  // The points drawn of a quantity (time in ms, value) and where its runs start.
  const std::vector<QPointF> &points(int quantity) const { return points_[size_t(quantity)]; }
  const std::vector<size_t> &runs(int quantity) const { return runs_[size_t(quantity)]; }

  // Layout, in the chart's own pixels: a unit's plot, a quantity's legend entry, the value
  // range of a unit's axis.
  QRect plotRect(int unit) const;
  QRect legendRect(int quantity) const;
  std::pair<double, double> valueRange(int unit) const { return ranges_[size_t(unit)]; }
  int plotWidth() const;

  // The cursor readout at time t: the time with its zone, then each shown line's value
  // there ("交流输入 220 V"), "—" where it has no sample near t.
  QString readoutAt(qint64 t) const;
  QString readout() const { return cursor_ ? readoutAt(*cursor_) : QString(); }
  qint64 timeAt(int x) const;
  int xOf(qint64 t) const;
  // The chart as an image, under a title line.
  QImage picture(const QString &title);

 signals:
  void viewChanged();  // zoomed, dragged or reset: the owner draws anew

 protected:
  void paintEvent(QPaintEvent *) override;
  void resizeEvent(QResizeEvent *) override;
  void wheelEvent(QWheelEvent *) override;
  void mousePressEvent(QMouseEvent *) override;
  void mouseMoveEvent(QMouseEvent *) override;
  void mouseReleaseEvent(QMouseEvent *) override;
  void mouseDoubleClickEvent(QMouseEvent *) override;
  void leaveEvent(QEvent *) override;

 private:
  void layout();
  void decimateAll();
  void updateCharts();
  void updateTimeAxes();
  void paintValueLabels(QPainter &p, int unit) const;
  void paintTimeLabels(QPainter &p) const;
  friend class TrendReadoutLayer;
  void paintReadout(QPainter &p) const;

  const std::array<trend::Series, trend::kQuantities> *series_ = nullptr;
  qint64 begin_ = 0, end_ = 1000;
  qint64 spanMs_ = 600'000;
  bool following_ = true;
  std::array<bool, trend::kQuantities> shown_;
  std::array<std::vector<QPointF>, trend::kQuantities> points_;
  std::array<std::vector<size_t>, trend::kQuantities> runs_;
  std::array<std::pair<double, double>, 4> ranges_{};
  std::array<double, 4> steps_{};  // the value axes' steps
  std::vector<QRect> plots_;                          // by unit
  std::array<QRect, trend::kQuantities> legend_{};  // by quantity
  // one chart per unit; each quantity's runs drawn by its pool of line series
  struct Plot {
    QChartView *view = nullptr;
    QChart *chart = nullptr;
    QCategoryAxis *time = nullptr;
    QValueAxis *values = nullptr;
  };
  std::vector<Plot> charts_;                                      // by unit
  std::array<std::vector<QLineSeries *>, trend::kQuantities> lines_;  // by quantity
  std::vector<std::pair<QString, qint64>> timeTicks_;  // the time axis's labels and their times
  QWidget *readoutLayer_ = nullptr;
  std::optional<qint64> cursor_;
  std::optional<int> dragX_;
  qint64 dragBegin_ = 0, dragEnd_ = 0;
};
