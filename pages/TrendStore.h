// Trends of the status page's measurements: the last 24 hours of each quantity in a ring,
// and what a chart draws of a time span (the lowest and highest sample per pixel column, so a
// full day draws as fast as ten minutes). Pure logic, no widgets and no I/O.
//
// Memory: one sample is a time (ms since 1970 UTC) and a value, 16 bytes; a ring grows by
// doubling, so a full day of one sample a second holds about 24 bytes a sample. A ring holds
// at most kMaxSamples, whatever the rate, so memory stays bounded.
#pragma once

#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace trend {

struct Sample {
  qint64 msecs;
  double value;
};

constexpr qint64 kKeepMs = 24LL * 3600 * 1000;

// The samples of one quantity over the last kKeepMs, oldest first.
class Series {
 public:
  static constexpr size_t kMaxSamples = 4 * 24 * 3600;  // four a second for a whole day
  explicit Series(qint64 keepMs = kKeepMs, size_t maxSamples = kMaxSamples);
  // Appends a sample and forgets those older than keepMs before it. A time earlier than the
  // newest sample (the PC clock set back) first drops the samples that are now in the future,
  // so the ring stays in time order.
  void add(qint64 msecs, double value);
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  const Sample &at(size_t i) const { return ring_[(head_ + i) % ring_.size()]; }
  const Sample &back() const { return at(count_ - 1); }
  // The first sample at or after msecs (size() when none).
  size_t lowerBound(qint64 msecs) const;
  // Samples [first, last) as at most two runs in memory, oldest first.
  std::array<std::span<const Sample>, 2> runs(size_t first, size_t last) const;
  // Bytes the ring holds, spare room included.
  size_t bytes() const { return ring_.capacity() * sizeof(Sample); }
  void clear();

 private:
  void grow();
  std::vector<Sample> ring_;
  size_t head_ = 0, count_ = 0;
  qint64 keepMs_;
  size_t maxSamples_;
};

// The points that draw samples [from, to] of a series across `columns` pixel columns, in time
// order: every sample while there are at most two per column; otherwise, per column, its
// lowest and highest sample (one point when they are the same sample).
std::vector<QPointF> decimate(const Series &series, qint64 from, qint64 to, int columns);

// The quantities drawn: each named after its label on the status page, with the box it is
// read from (none for the sum of the modules' output currents).
struct Quantity {
  const char *name;
  const char *box;  // nullptr: the modules' currents summed
  const char *unit;  // "V", "A", "°C", "%RH": quantities of one unit share a value axis
};
constexpr int kQuantities = 8;
std::span<const Quantity> quantities();
// The name of a measurement box ("Edit16" is "-48V输出电压"); empty for an unknown box.
QString boxName(const char *box);

// The units of the quantities, each once, in the order of their first quantity; the index of
// a quantity's unit among them.
std::span<const char *const> units();
int unitOf(int quantity);

// Where a drawn line breaks: polling stopped, the link was down or the controller silent.
// Samples come once a second while polled; two points further apart than kGapMs (or than
// two of the chart's columns, where a column holds more time than that) have no samples
// between them, and are not joined. Returns the index of each point that starts a new run
// (0 first, when there are points).
constexpr qint64 kGapMs = 5000;
std::vector<size_t> runStarts(std::span<const QPointF> points, qint64 columnMs);

// The samples of every quantity within [from, to] as a table: "时间" and the names, one row per
// time at which any quantity has a sample (empty cells for the others), oldest first.
QList<QStringList> tableRows(std::span<const Series> series, qint64 from, qint64 to);

}  // namespace trend
