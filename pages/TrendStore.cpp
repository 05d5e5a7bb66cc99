#include "pages/ClockZone.h"
#include "pages/TrendStore.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "pages/AlarmJournal.h"
#include "protocol/Conversions.h"

namespace trend {

Series::Series(qint64 keepMs, size_t maxSamples) : keepMs_(keepMs), maxSamples_(std::max<size_t>(1, maxSamples)) {}

void Series::clear() {
  ring_ = {};
  head_ = count_ = 0;
}

void Series::grow() {
  const size_t size = std::min(maxSamples_, std::max<size_t>(1024, 2 * ring_.size()));
  std::vector<Sample> bigger;
  bigger.reserve(size);
  for (size_t i = 0; i < count_; ++i) bigger.push_back(at(i));
  bigger.resize(size);
  ring_ = std::move(bigger);
  head_ = 0;
}

void Series::add(qint64 msecs, double value) {
  while (count_ > 0 && back().msecs > msecs) --count_;
  if (count_ == ring_.size()) {
    if (ring_.size() < maxSamples_) {
      grow();
    } else {
      head_ = (head_ + 1) % ring_.size();
      --count_;
    }
  }
  ring_[(head_ + count_) % ring_.size()] = Sample{msecs, value};
  ++count_;
  while (count_ > 1 && at(0).msecs < msecs - keepMs_) {
    head_ = (head_ + 1) % ring_.size();
    --count_;
  }
}

std::array<std::span<const Sample>, 2> Series::runs(size_t first, size_t last) const {
  last = std::min(last, count_);
  if (first >= last) return {};
  const size_t begin = (head_ + first) % ring_.size(), n = last - first;
  const size_t tail = std::min(n, ring_.size() - begin);
  return {std::span<const Sample>(ring_.data() + begin, tail), std::span<const Sample>(ring_.data(), n - tail)};
}

size_t Series::lowerBound(qint64 msecs) const {
  size_t lo = 0, hi = count_;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (at(mid).msecs < msecs)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

namespace {
// Past the last sample at or before msecs.
size_t endOf(const Series &series, qint64 msecs) {
  return msecs == std::numeric_limits<qint64>::max() ? series.size() : series.lowerBound(msecs + 1);
}
}  // namespace

std::vector<QPointF> decimate(const Series &series, qint64 from, qint64 to, int columns) {
  std::vector<QPointF> points;
  if (to < from || series.empty()) return points;
  columns = std::max(1, columns);
  const size_t first = series.lowerBound(from);
  const size_t last = endOf(series, to);
  if (last <= first) return points;
  const auto runs = series.runs(first, last);
  auto point = [](const Sample *s) { return QPointF(double(s->msecs), s->value); };
  if (last - first <= 2 * size_t(columns)) {
    points.reserve(last - first);
    for (const auto &run : runs)
      for (const Sample &s : run) points.push_back(point(&s));
    return points;
  }
  // Column c holds the times from + c * span / columns up to the next column's start; a
  // sample's column is worked out only when it crosses into the next one.
  points.reserve(2 * size_t(columns));
  const double span = double(to - from) + 1;
  auto columnStart = [&](qint64 c) { return from + static_cast<qint64>(std::ceil(double(c) * span / columns)); };
  const Sample *low = nullptr, *high = nullptr;
  qint64 next = std::numeric_limits<qint64>::min();  // where the current column ends
  auto flush = [&] {
    if (!low) return;
    // in time order (the two runs of a ring do not lie in time order in memory)
    const bool lowFirst = low->msecs < high->msecs || (low->msecs == high->msecs && low <= high);
    const Sample *a = lowFirst ? low : high, *b = lowFirst ? high : low;
    points.push_back(point(a));
    if (a != b) points.push_back(point(b));
  };
  for (const auto &run : runs) {
    for (const Sample &s : run) {
      if (s.msecs >= next) {
        flush();
        qint64 c = static_cast<qint64>(double(s.msecs - from) * columns / span);
        while (c > 0 && columnStart(c) > s.msecs) --c;  // rounding at a column's edge
        while (columnStart(c + 1) <= s.msecs) ++c;
        next = columnStart(c + 1);
        low = high = &s;
        continue;
      }
      if (s.value < low->value) low = &s;
      if (s.value > high->value) high = &s;
    }
  }
  flush();
  return points;
}

namespace {

const Quantity kQuantityTable[kQuantities] = {
    {"交流输入", "Edit14", "V"},    {"-48V输出电压", "Edit16", "V"}, {"-48V输出电流", "Edit15", "A"},
    {"电池电流", "Edit17", "A"},    {"电池温度", "Edit32", "°C"},    {"环境温度", "Edit18", "°C"},
    {"环境湿度", "Edit19", "%RH"},  {"模块输出电流和", nullptr, "A"},
};
const char *const kUnits[] = {"V", "A", "°C", "%RH"};

}  // namespace

std::span<const Quantity> quantities() { return kQuantityTable; }

std::span<const char *const> units() { return kUnits; }

int unitOf(int quantity) {
  if (quantity < 0 || quantity >= kQuantities) return -1;
  for (size_t u = 0; u < std::size(kUnits); ++u)
    if (qstrcmp(kUnits[u], kQuantityTable[quantity].unit) == 0) return int(u);
  return -1;
}

std::vector<size_t> runStarts(std::span<const QPointF> points, qint64 columnMs) {
  std::vector<size_t> starts;
  if (points.empty()) return starts;
  const double gap = double(std::max(kGapMs, 2 * columnMs));
  starts.push_back(0);
  for (size_t i = 1; i < points.size(); ++i)
    if (points[i].x() - points[i - 1].x() > gap) starts.push_back(i);
  return starts;
}

QString boxName(const char *box) {
  if (!box) return {};
  if (qstrcmp(box, "Edit33") == 0) return QStringLiteral("整流模块数");
  for (const Quantity &q : kQuantityTable)
    if (q.box && qstrcmp(q.box, box) == 0) return QString::fromUtf8(q.name);
  return {};
}

QList<QStringList> tableRows(std::span<const Series> series, qint64 from, qint64 to) {
  QList<QStringList> rows;
  QStringList heading{clockzone::heading()};
  for (size_t s = 0; s < series.size(); ++s)
    heading << (s < quantities().size() ? QString::fromUtf8(quantities()[s].name) : QString());
  rows << heading;
  std::vector<size_t> cursor(series.size()), end(series.size());
  for (size_t s = 0; s < series.size(); ++s) {
    cursor[s] = series[s].lowerBound(from);
    end[s] = endOf(series[s], to);
  }
  for (;;) {
    qint64 t = std::numeric_limits<qint64>::max();
    for (size_t s = 0; s < series.size(); ++s)
      if (cursor[s] < end[s]) t = std::min(t, series[s].at(cursor[s]).msecs);
    if (t == std::numeric_limits<qint64>::max()) break;
    QStringList row{journal::timeText(t)};
    for (size_t s = 0; s < series.size(); ++s) {
      if (cursor[s] < end[s] && series[s].at(cursor[s]).msecs == t) {
        row << proto::formatGeneral(series[s].at(cursor[s]).value);
        ++cursor[s];
      } else {
        row << QString();
      }
    }
    rows << row;
  }
  return rows;
}

}  // namespace trend
