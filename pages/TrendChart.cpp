#include "pages/TrendChart.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QFontMetrics>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

#include "pages/ClockZone.h"
#include "protocol/Conversions.h"

namespace {

// Where things sit, in pixels.
constexpr int kLeft = 54, kRight = 10, kTop = 2, kLegendRow = 18, kPlotGap = 6, kBottom = 34;
constexpr int kSwatch = 16, kEntryGap = 14;
constexpr qint64 kMinSpanMs = 10'000;

// Wong's colours for colour-blind readers, with Tol's wine in place of the yellow, which does
// not stand out on white.
const QColor kColours[trend::kQuantities] = {
    QColor(0x00, 0x72, 0xB2),  // 交流输入: blue
    QColor(0xD5, 0x5E, 0x00),  // -48V输出电压: vermilion
    QColor(0x00, 0x9E, 0x73),  // -48V输出电流: bluish green
    QColor(0xCC, 0x79, 0xA7),  // 电池电流: reddish purple
    QColor(0xE6, 0x9F, 0x00),  // 电池温度: orange
    QColor(0x56, 0xB4, 0xE9),  // 环境温度: sky blue
    QColor(0x00, 0x00, 0x00),  // 环境湿度: black
    QColor(0x88, 0x22, 0x55),  // 模块输出电流和: wine
};

int unitCount() { return int(trend::units().size()); }

QString unitText(int q) { return QString::fromUtf8(trend::quantities()[size_t(q)].unit); }

QString legendText(int q) {
  return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(trend::quantities()[size_t(q)].name), unitText(q));
}

// A step of 1, 2 or 5 times a power of ten, at least `raw`.
double niceStep(double raw) {
  if (!(raw > 0)) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * power >= raw) return m * power;
  return 10 * power;
}

// Steps of the time axis, in ms.
const qint64 kTimeSteps[] = {1'000,     2'000,     5'000,      10'000,     15'000,     30'000,
                             60'000,    120'000,   300'000,    600'000,    900'000,    1'800'000,
                             3'600'000, 7'200'000, 10'800'000, 21'600'000, 43'200'000, 86'400'000};

}  // namespace

QColor trendColour(int quantity) {
  return quantity >= 0 && quantity < trend::kQuantities ? kColours[quantity] : QColor(Qt::gray);
}

// Over the charts: the cursor's line and its readout, drawn by the chart widget.
class TrendReadoutLayer : public QWidget {
 public:
  explicit TrendReadoutLayer(TrendChartView *chart) : QWidget(chart), chart_(chart) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
  }

 protected:
  void paintEvent(QPaintEvent *) override {
    QPainter p(this);
    chart_->paintReadout(p);
  }

 private:
  TrendChartView *chart_;
};

TrendChartView::TrendChartView(QWidget *parent) : QWidget(parent) {
  shown_.fill(true);
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setToolTip(QString());
  // one chart per unit; the mouse passes through them to this widget, which zooms, drags,
  // reads out and toggles lines for all of them at once
  for (int u = 0; u < unitCount(); ++u) {
    Plot plot;
    plot.chart = new QChart;
    plot.chart->legend()->hide();
    plot.chart->setMargins(QMargins());
    plot.chart->layout()->setContentsMargins(0, 0, 0, 0);
    plot.chart->setBackgroundRoundness(0);
    plot.chart->setBackgroundBrush(Qt::white);
    plot.chart->setBackgroundPen(Qt::NoPen);
    plot.chart->setPlotAreaBackgroundVisible(true);
    plot.chart->setPlotAreaBackgroundBrush(Qt::white);
    plot.chart->setPlotAreaBackgroundPen(QPen(QColor(200, 200, 200), 1));
    plot.time = new QCategoryAxis;
    plot.time->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    plot.time->setGridLineColor(QColor(232, 232, 232));
    plot.time->setLineVisible(false);
    plot.time->setLabelsVisible(false);
    plot.values = new QValueAxis;
    plot.values->setGridLineColor(QColor(232, 232, 232));
    plot.values->setLineVisible(false);
    plot.values->setLabelsVisible(false);
    plot.chart->addAxis(plot.time, Qt::AlignBottom);
    plot.chart->addAxis(plot.values, Qt::AlignLeft);
    plot.view = new QChartView(plot.chart, this);
    plot.view->setRenderHint(QPainter::Antialiasing, false);
    plot.view->setFrameShape(QFrame::NoFrame);
    plot.view->setFocusPolicy(Qt::NoFocus);
    plot.view->setAttribute(Qt::WA_TransparentForMouseEvents);
    charts_.push_back(plot);
  }
  readoutLayer_ = new TrendReadoutLayer(this);
}

// ---------------------------------------------------------------- layout

void TrendChartView::layout() {
  const QFontMetrics fm(font());
  const int width = std::max(100, this->width() - kLeft - kRight);
  // each unit's legend entries, wrapped into rows where they do not fit the plot's width
  std::vector<int> rows(size_t(unitCount()), 1);
  for (int u = 0; u < unitCount(); ++u) {
    int x = 0, row = 0;
    for (int q = 0; q < trend::kQuantities; ++q) {
      if (trend::unitOf(q) != u) continue;
      const int w = kSwatch + 4 + fm.horizontalAdvance(legendText(q));
      if (x > 0 && x + w > width) {
        x = 0;
        ++row;
      }
      legend_[size_t(q)] = QRect(x, row * kLegendRow, w, kLegendRow);
      x += w + kEntryGap;
    }
    rows[size_t(u)] = row + 1;
  }
  int legendHeight = 0;
  for (int r : rows) legendHeight += r * kLegendRow;
  const int plotsHeight = std::max(4 * 20, height() - kTop - kBottom - legendHeight - (unitCount() - 1) * kPlotGap);
  const int each = plotsHeight / unitCount();
  plots_.assign(size_t(unitCount()), QRect());
  int y = kTop;
  for (int u = 0; u < unitCount(); ++u) {
    const int legendTop = y;
    y += rows[size_t(u)] * kLegendRow;
    plots_[size_t(u)] = QRect(kLeft, y, width, each);
    for (int q = 0; q < trend::kQuantities; ++q)
      if (trend::unitOf(q) == u) legend_[size_t(q)].translate(kLeft, legendTop);
    // the chart covers its plot and no more: the axes' labels are this widget's
    if (size_t(u) < charts_.size()) {
      const Plot &plot = charts_[size_t(u)];
      plot.view->setGeometry(plots_[size_t(u)]);
      plot.chart->resize(plot.view->size());
      plot.chart->setPlotArea(QRectF(0, 0, width, each));
    }
    y += each + kPlotGap;
  }
  if (readoutLayer_) {
    readoutLayer_->setGeometry(rect());
    readoutLayer_->raise();
  }
}

QRect TrendChartView::plotRect(int unit) const {
  return unit >= 0 && size_t(unit) < plots_.size() ? plots_[size_t(unit)] : QRect();
}

QRect TrendChartView::legendRect(int quantity) const {
  return quantity >= 0 && quantity < trend::kQuantities ? legend_[size_t(quantity)] : QRect();
}

int TrendChartView::plotWidth() const { return plots_.empty() ? std::max(100, width() - kLeft - kRight) : plots_[0].width(); }

void TrendChartView::resizeEvent(QResizeEvent *) {
  layout();
  decimateAll();
}

// ---------------------------------------------------------------- the view

void TrendChartView::refresh(qint64 now, qint64 spanMs) {
  spanMs_ = std::max<qint64>(kMinSpanMs, spanMs);
  if (following_) {
    qint64 end = now;
    if (series_)
      for (const trend::Series &s : *series_)
        if (!s.empty()) end = std::max(end, s.back().msecs);
    end_ = end;
    begin_ = end - spanMs_;
  }
  if (plots_.empty()) layout();
  decimateAll();
}

void TrendChartView::decimateAll() {
  const int columns = std::max(50, plotWidth() / 2);
  const qint64 columnMs = std::max<qint64>(1, (end_ - begin_) / columns);
  std::array<double, 4> low, high;
  low.fill(std::numeric_limits<double>::max());
  high.fill(std::numeric_limits<double>::lowest());
  for (int q = 0; q < trend::kQuantities; ++q) {
    std::vector<QPointF> &points = points_[size_t(q)];
    points = series_ ? trend::decimate((*series_)[size_t(q)], begin_, end_, columns) : std::vector<QPointF>();
    runs_[size_t(q)] = trend::runStarts(points, columnMs);
    const int u = trend::unitOf(q);
    if (!shown_[size_t(q)] || u < 0) continue;
    for (const QPointF &p : points) {
      low[size_t(u)] = std::min(low[size_t(u)], p.y());
      high[size_t(u)] = std::max(high[size_t(u)], p.y());
    }
  }
  for (int u = 0; u < unitCount(); ++u) {
    double lo = low[size_t(u)], hi = high[size_t(u)];
    if (lo > hi) lo = 0, hi = 1;
    const double margin = std::max(0.5, (hi - lo) * 0.08);
    lo -= margin;
    hi += margin;
    // to whole ticks
    const double step = niceStep((hi - lo) / 4);
    ranges_[size_t(u)] = {std::floor(lo / step) * step, std::ceil(hi / step) * step};
    steps_[size_t(u)] = step;  // the grid's and the labels' step: the range is whole steps of it
  }
  updateCharts();
  update();
}

void TrendChartView::resetView() {
  following_ = true;
  emit viewChanged();
}

void TrendChartView::zoom(double factor, qint64 at) {
  const qint64 span = end_ - begin_;
  const qint64 newSpan = std::clamp<qint64>(qint64(double(span) * factor), kMinSpanMs, trend::kKeepMs);
  if (newSpan == span) return;
  at = std::clamp(at, begin_, end_);
  const double share = span > 0 ? double(at - begin_) / double(span) : 1;
  begin_ = at - qint64(share * double(newSpan));
  end_ = begin_ + newSpan;
  following_ = false;
  emit viewChanged();
}

void TrendChartView::pan(qint64 ms) {
  if (ms == 0) return;
  begin_ += ms;
  end_ += ms;
  following_ = false;
  emit viewChanged();
}

void TrendChartView::setLineShown(int quantity, bool shown) {
  if (quantity < 0 || quantity >= trend::kQuantities) return;
  shown_[size_t(quantity)] = shown;
  decimateAll();
}

qint64 TrendChartView::timeAt(int x) const {
  const int w = std::max(1, plotWidth());
  return begin_ + qint64(double(x - kLeft) * double(end_ - begin_) / w);
}

int TrendChartView::xOf(qint64 t) const {
  const qint64 span = std::max<qint64>(1, end_ - begin_);
  return kLeft + int(double(t - begin_) * plotWidth() / double(span));
}

QString TrendChartView::readoutAt(qint64 t) const {
  QStringList lines{QStringLiteral("%1 (%2)").arg(clockzone::dateTime(t), clockzone::name())};
  // a sample counts as "there" within two columns or two polls of t
  const qint64 near = std::max<qint64>(2000, 2 * (end_ - begin_) / std::max(1, plotWidth() / 2));
  for (int q = 0; q < trend::kQuantities; ++q) {
    if (!shown_[size_t(q)]) continue;
    QString value = QStringLiteral("—");
    if (series_) {
      const trend::Series &s = (*series_)[size_t(q)];
      const size_t i = s.lowerBound(t);
      std::optional<trend::Sample> best;
      if (i < s.size()) best = s.at(i);
      if (i > 0 && (!best || t - s.at(i - 1).msecs < best->msecs - t)) best = s.at(i - 1);
      if (best && std::llabs(best->msecs - t) <= near)
        value = proto::formatGeneral(best->value) + QLatin1Char(' ') + unitText(q);
    }
    lines << QStringLiteral("%1 %2").arg(QString::fromUtf8(trend::quantities()[size_t(q)].name), value);
  }
  return lines.join(QLatin1Char('\n'));
}

// ---------------------------------------------------------------- painting

void TrendChartView::paintEvent(QPaintEvent *) {
  // the legend and each plot's unit; the plots are the charts over this widget
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  if (plots_.empty()) layout();
  for (int q = 0; q < trend::kQuantities; ++q) {
    const QRect r = legend_[size_t(q)];
    const QColor c = shown_[size_t(q)] ? trendColour(q) : QColor(190, 190, 190);
    p.fillRect(QRect(r.left(), r.center().y() - 1, kSwatch, 3), c);
    p.setPen(shown_[size_t(q)] ? palette().color(QPalette::WindowText) : QColor(160, 160, 160));
    p.drawText(QRect(r.left() + kSwatch + 4, r.top(), r.width() - kSwatch - 4, r.height()),
               Qt::AlignLeft | Qt::AlignVCenter, legendText(q));
  }
  for (int u = 0; u < unitCount() && size_t(u) < plots_.size(); ++u) paintValueLabels(p, u);
  paintTimeLabels(p);
}

void TrendChartView::paintValueLabels(QPainter &p, int u) const {
  const QRect r = plots_[size_t(u)];
  const double lo = ranges_[size_t(u)].first, hi = ranges_[size_t(u)].second;
  const QFontMetrics fm(font());
  // at the chart's grid lines (whole steps), at the left with the unit above them
  const double step = steps_[size_t(u)] > 0 ? steps_[size_t(u)] : niceStep((hi - lo) / 4);
  const double span = hi - lo > 0 ? hi - lo : 1;
  auto yOf = [&](double v) { return r.bottom() - (v - lo) * (r.height() - 1) / span; };
  const int decimals = step >= 1 ? 0 : int(std::ceil(-std::log10(step)));
  int below = r.bottom() + 1 + fm.height();  // the top of the label drawn last, lower down
  p.setPen(palette().color(QPalette::WindowText));
  for (double v = lo; v <= hi + step / 2; v += step) {
    const int y = int(std::lround(yOf(v)));
    const QString label = QString::number(v, 'f', decimals);
    // within its plot's height: clear of the unit above and of the next plot's labels
    const int top = std::clamp(y - fm.height() / 2, r.top(), r.bottom() + 1 - fm.height());
    if (top + fm.height() > below) continue;  // no room left beside its line
    p.drawText(QRect(0, top, kLeft - 6, fm.height()), Qt::AlignRight | Qt::AlignVCenter, label);
    below = top;
  }
  p.drawText(QRect(0, r.top() - kLegendRow, kLeft - 6, kLegendRow), Qt::AlignRight | Qt::AlignVCenter,
             QString::fromUtf8(trend::units()[size_t(u)]));
}

void TrendChartView::paintTimeLabels(QPainter &p) const {
  if (plots_.empty()) return;
  const QRect bottom = plots_.back();
  const QFontMetrics fm(font());
  p.setPen(palette().color(QPalette::WindowText));
  for (const auto &[label, t] : timeTicks_) {
    const int x = xOf(t);
    p.drawLine(x, bottom.bottom() + 1, x, bottom.bottom() + 3);
    const int w = fm.horizontalAdvance(label);
    const int left = std::clamp(x - w / 2, 0, width() - w);
    p.drawText(QRect(left, bottom.bottom() + 4, w, fm.height()), Qt::AlignCenter, label);
  }
  p.drawText(QRect(0, bottom.bottom() + 4 + fm.height(), width() - kRight, fm.height()),
             Qt::AlignRight | Qt::AlignVCenter, clockzone::heading());
}

void TrendChartView::updateCharts() {
  if (charts_.empty()) return;
  updateTimeAxes();
  for (int u = 0; u < unitCount(); ++u) {
    QValueAxis *axis = charts_[size_t(u)].values;
    const auto [lo, hi] = ranges_[size_t(u)];
    const double step = steps_[size_t(u)];
    // set only when they change: each change lays the chart's lines out anew
    const int ticks = std::clamp(int(std::lround((hi - lo) / step)) + 1, 2, 50);
    const QString format = QStringLiteral("%.%1f").arg(step >= 1 ? 0 : int(std::ceil(-std::log10(step))));
    if (axis->min() == lo && axis->max() == hi && axis->tickCount() == ticks && axis->labelFormat() == format) continue;
    axis->setRange(lo, hi);
    axis->setTickCount(ticks);
    axis->setLabelFormat(format);
    charts_[size_t(u)].chart->layout()->invalidate();  // the grid follows the new ticks
  }
  for (int q = 0; q < trend::kQuantities; ++q) {
    const int u = trend::unitOf(q);
    if (u < 0 || size_t(u) >= charts_.size()) continue;
    const Plot &plot = charts_[size_t(u)];
    const std::vector<QPointF> &points = points_[size_t(q)];
    const std::vector<size_t> &starts = runs_[size_t(q)];
    const size_t runs = shown_[size_t(q)] ? starts.size() : 0;
    std::vector<QLineSeries *> &lines = lines_[size_t(q)];
    // a line series per run: the pool grows to the most runs seen, the ones left over empty
    while (lines.size() < runs) {
      auto *line = new QLineSeries(plot.chart);
      plot.chart->addSeries(line);
      line->attachAxis(plot.time);
      line->attachAxis(plot.values);
      line->setMarkerSize(3);
      lines.push_back(line);
    }
    // Two pixels wide while the points stand apart; where a day is thinned to a low and a
    // high per column the line zigzags, and a wide pen's outline of it costs far more to
    // fill than a one-pixel line.
    const QPen pen(trendColour(q), points.size() * 3 > size_t(std::max(1, plotWidth())) ? 0 : 2);
    for (size_t k = 0; k < lines.size(); ++k) {
      QLineSeries *line = lines[k];
      if (k >= runs) {
        if (line->count() > 0) line->clear();
        continue;
      }
      const size_t from = starts[k], to = k + 1 < starts.size() ? starts[k + 1] : points.size();
      if (line->pen() != pen) line->setPen(pen);
      if (line->pointsVisible() != (to - from == 1)) line->setPointsVisible(to - from == 1);  // a lone sample: a dot
      // x from the view's beginning: the time axis keeps its range while the view moves on,
      // and only the points are laid out anew
      QList<QPointF> shifted;
      shifted.reserve(qsizetype(to - from));
      for (size_t i = from; i < to; ++i) shifted.append(QPointF(points[i].x() - double(begin_), points[i].y()));
      line->replace(shifted);
    }
  }
}

void TrendChartView::updateTimeAxes() {
  const QFontMetrics fm(font());
  const qint64 span = std::max<qint64>(1, end_ - begin_);
  const int w = std::max(1, plotWidth());
  // the labels' form for a step: seconds where the step has them, the date over half a day
  auto formatOf = [span](qint64 step) {
    if (span > 12LL * 3600'000) return QStringLiteral("MM-dd HH:mm");
    return step < 60'000 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm");
  };
  // the smallest step whose labels stand apart
  qint64 step = kTimeSteps[std::size(kTimeSteps) - 1];
  for (qint64 s : kTimeSteps)
    if (double(s) * w / double(span) >= fm.horizontalAdvance(formatOf(s)) + 24) {
      step = s;
      break;
    }
  const QString tickFormat = formatOf(step);
  // ticks on whole steps of the clock's zone, labelled in it
  const qint64 offset = qint64(clockzone::kOffsetSecs) * 1000;
  qint64 t = ((begin_ + offset + step - 1) / step) * step - offset;
  if (begin_ + offset < 0) t = begin_;
  // the axis runs from 0 at the view's beginning; the labels are painted by this widget
  QList<std::pair<QString, qint64>> ticks;
  timeTicks_.clear();
  for (; t <= end_; t += step) {
    timeTicks_.push_back({clockzone::text(t, tickFormat), t});
    ticks.append({timeTicks_.back().first, t - begin_});
  }
  for (const Plot &plot : charts_) {
    QCategoryAxis *axis = plot.time;
    if (axis->min() != 0 || axis->max() != double(end_ - begin_)) axis->setRange(0, double(end_ - begin_));
    const QStringList labels = axis->categoriesLabels();
    bool same = labels.size() == ticks.size();
    for (qsizetype i = 0; same && i < ticks.size(); ++i)
      same = labels[i] == ticks[i].first && axis->endValue(labels[i]) == double(ticks[i].second);
    if (same) continue;
    for (const QString &label : labels) axis->remove(label);
    axis->setStartValue(0);
    for (const auto &[label, at] : ticks) axis->append(label, double(at));
  }
}

void TrendChartView::paintReadout(QPainter &p) const {
  if (!cursor_ || plots_.empty()) return;
  const int x = xOf(*cursor_);
  p.setPen(QPen(QColor(80, 80, 80), 1, Qt::DashLine));
  p.drawLine(x, plots_.front().top(), x, plots_.back().bottom());
  const QStringList lines = readout().split(QLatin1Char('\n'));
  const QFontMetrics fm(font());
  int w = 0;
  for (const QString &l : lines) w = std::max(w, fm.horizontalAdvance(l));
  w += 12 + kSwatch;
  const int h = int(lines.size()) * fm.height() + 8;
  int left = x + 12;
  if (left + w > width() - 2) left = x - 12 - w;
  left = std::max(2, left);
  const QRect box(left, plots_.front().top() + 4, w, h);
  p.fillRect(box, QColor(255, 255, 255, 235));
  p.setPen(QColor(120, 120, 120));
  p.drawRect(box.adjusted(0, 0, -1, -1));
  int y = box.top() + 4;
  int line = 0;
  for (int q = -1; q < trend::kQuantities; ++q) {
    if (q >= 0 && !shown_[size_t(q)]) continue;
    if (line >= int(lines.size())) break;
    if (q >= 0) p.fillRect(QRect(box.left() + 6, y + fm.height() / 2 - 1, kSwatch - 4, 3), trendColour(q));
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(box.left() + 6 + (q >= 0 ? kSwatch : 0), y, w, fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               lines[line]);
    y += fm.height();
    ++line;
  }
}

QImage TrendChartView::picture(const QString &title) {
  const QFontMetrics fm(font());
  const int head = fm.height() + 12;
  QImage image(width(), height() + head, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  QFont bold = font();
  bold.setBold(true);
  p.setFont(bold);
  p.setPen(Qt::black);
  p.drawText(QRect(8, 0, width() - 16, head), Qt::AlignLeft | Qt::AlignVCenter, title);
  const std::optional<qint64> cursor = cursor_;
  cursor_.reset();  // no cursor in the picture
  render(&p, QPoint(0, head), QRegion(), RenderFlags(DrawChildren));
  cursor_ = cursor;
  return image;
}

// ---------------------------------------------------------------- the mouse

void TrendChartView::wheelEvent(QWheelEvent *e) {
  const int delta = e->angleDelta().y();
  if (delta == 0) return;
  zoom(delta > 0 ? 0.8 : 1.25, timeAt(int(e->position().x())));
  e->accept();
}

void TrendChartView::mousePressEvent(QMouseEvent *e) {
  if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
  const QPoint at = e->position().toPoint();
  for (int q = 0; q < trend::kQuantities; ++q)
    if (legend_[size_t(q)].contains(at)) {
      setLineShown(q, !shown_[size_t(q)]);
      return;
    }
  for (const QRect &r : plots_)
    if (r.contains(at)) {
      dragX_ = at.x();
      dragBegin_ = begin_;
      dragEnd_ = end_;
      setCursor(Qt::ClosedHandCursor);
      return;
    }
}

void TrendChartView::mouseMoveEvent(QMouseEvent *e) {
  const QPoint at = e->position().toPoint();
  if (dragX_) {
    const qint64 dt = qint64(double(at.x() - *dragX_) * double(dragEnd_ - dragBegin_) / std::max(1, plotWidth()));
    const qint64 shift = (dragBegin_ - dt) - begin_;
    pan(shift);
  }
  bool over = false;
  for (const QRect &r : plots_) over = over || r.contains(at);
  if (over)
    cursor_ = timeAt(at.x());
  else
    cursor_.reset();
  readoutLayer_->update();
}

void TrendChartView::mouseReleaseEvent(QMouseEvent *e) {
  if (e->button() == Qt::LeftButton && dragX_) {
    dragX_.reset();
    unsetCursor();
  }
}

void TrendChartView::mouseDoubleClickEvent(QMouseEvent *e) {
  if (e->button() == Qt::LeftButton) resetView();
}

void TrendChartView::leaveEvent(QEvent *) {
  cursor_.reset();
  readoutLayer_->update();
}
