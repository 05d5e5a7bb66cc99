// The alarm journal: which alarm rose or cleared, where and when. The window hands over what
// it shows after every decoded answer (the lamps, the AC state, the modules' protection and
// fan columns) and what happens to the link; the detector answers with the events to add.
// Pure logic, no widgets and no I/O; the table model is a separate class over the events.
//
// A source's state is raised, clear, or not known yet: until an answer tells, a source makes
// no event, and one seen clear before it was ever raised (the first answer after a link
// opens) makes none either. A lost link is a source of its own; the alarms keep their last
// state through it, so red, link lost, red again is one alarm.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "protocol/Status.h"

namespace journal {

enum class Kind : uint8_t { Raised, Cleared };

// Sources by number: the status page's lamps in the order of status::lamps(), the AC lamp,
// each module's protection column, each module's fan column, the link.
constexpr int kLampSources = 18;
constexpr int kAcSource = kLampSources;
constexpr int moduleSource(int module) { return kAcSource + module; }                   // modules 1..12
constexpr int moduleFanSource(int module) { return kAcSource + status::kModules + module; }
constexpr int kLinkSource = kAcSource + 2 * status::kModules + 1;
constexpr int kSources = kLinkSource + 1;

// The name the journal's 来源 column shows: a lamp's label without "：" and blanks, "交流",
// "模块N" or "通讯".
QString sourceName(int source);
// A label as the journal names it: "：" and blanks taken out ("  电池1 熔丝：" is "电池1熔丝").
QString cleanLabel(const QString &label);

struct Event {
  qint64 msecs;  // PC time, milliseconds since 1970 UTC
  uint16_t source;
  Kind kind;
  QString detail;
};

// One module's alarms as its grid row shows them: the protection column (its fault text when
// it has one) and the fan column. Clear when the column reads "正常".
struct ModuleAlarm {
  bool raised;
  QString detail;
};
ModuleAlarm moduleProtection(const status::ModuleRecord &m);
ModuleAlarm moduleFan(const status::ModuleRecord &m);

class Detector {
 public:
  // The source's state as last decoded: raised (true), clear (false) or unknown (nullopt).
  // An alarm that rises, or that is raised with another detail than before ("欠压" becoming
  // "掉电"), makes a Raised event; a raised alarm seen clear makes a Cleared event; unknown
  // changes nothing. Sources out of range make nothing.
  std::optional<Event> update(int source, std::optional<bool> raised, const QString &detail, qint64 msecs);
  // What the detector last knew of the source.
  std::optional<bool> known(int source) const;

 private:
  std::array<std::optional<bool>, kSources> state_{};
  std::array<QString, kSources> detail_{};
};

// The link's drops and returns as journal rows. One drop makes a 告警 row and its return a
// 恢复 row. A drop before the link has stayed up for kSteadyMs since its last return is a
// flap: every further flap of that episode goes to one row, "连接中断 ×N" (N: the drops of the
// episode), updated in place with each drop and return: its 事件 and 时间 are those of the
// latest. Once the link has stayed up for kSteadyMs the episode is over, and the next drop
// makes its own rows again. So a link that drops every second adds three rows, not two a
// second. A link that is down when told so again (a failed try to reconnect) adds nothing.
class LinkEpisodes {
 public:
  static constexpr qint64 kSteadyMs = 60'000;
  struct Entry {
    Event event;
    bool flaps;   // the episode's flap row
    bool update;  // that row exists: it is replaced, not added
  };
  std::optional<Entry> down(const QString &reason, qint64 msecs);
  std::optional<Entry> up(const QString &how, qint64 msecs);

 private:
  std::optional<bool> up_;  // as last told; unknown before the first
  qint64 upSince_ = 0;
  int drops_ = 0;  // in the episode
  bool flapRow_ = false;
  Entry flap(Kind kind, qint64 msecs);
};

// At most one alert a minute for each source: a lamp or a link that keeps changing beeps once,
// not with every change. The PC clock set back counts as a minute gone.
class AlertPacer {
 public:
  static constexpr qint64 kQuietMs = 60'000;
  bool due(int source, qint64 msecs);

 private:
  std::array<std::optional<qint64>, kSources> last_{};
};

// The texts of an event as the journal shows them: 时间, 来源, 事件, 详情.
QStringList rowTexts(const Event &e);

// The events as a table: 时间, 来源, 事件, 详情, oldest first. The rows of the link (source
// kLinkSource) and the alarm rows are kept apart: the newest kCapacity alarm rows and the
// newest kLinkCapacity link rows, so no number of link rows ever pushes an alarm out. Beyond
// its bound, the oldest rows of that kind go in a block.
class JournalModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int kCapacity = 200000;
  static constexpr int kDropBlock = 10000;
  static constexpr int kLinkCapacity = 10000;
  static constexpr int kLinkDropBlock = 1000;
  using QAbstractTableModel::QAbstractTableModel;
  int rowCount(const QModelIndex &parent = {}) const override;
  int columnCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // Adds the events as rows; returns the number the first of them is known by (the next
  // ones count on from it).
  quint64 append(const std::vector<Event> &events);
  // Replaces the row added as `number`; false when it is no longer kept.
  bool replace(quint64 number, const Event &e);
  const Event &eventAt(int row) const { return rows_[static_cast<size_t>(row)].event; }
  // The texts of one row, as the view shows them.
  QStringList rowTexts(int row) const { return journal::rowTexts(eventAt(row)); }
  // Every row's event, oldest first: a copy, for writing out while the journal goes on.
  std::vector<Event> events() const;
  int linkRows() const { return linkRows_; }
  static const QStringList &headings();

 private:
  struct Row {
    Event event;
    quint64 number;
  };
  std::deque<Row> rows_;
  quint64 next_ = 1;
  int linkRows_ = 0;
  // Drops the oldest `count` rows of the link (link) or of the alarms.
  void dropOldest(bool link, int count);
};

// A row's colour by its event: an alarm raised red, cleared green; the link's drop amber, its
// return blue.
QColor rowColour(const Event &e);

// The rows of the alarms raised now: for each source its newest row, when that row raised it.
// In row order.
std::vector<int> activeRows(const JournalModel &model);

// "只看当前告警": the journal narrowed to activeRows, kept up to date as rows come and go while
// it has the journal as its source (each change then walks the rows once). The window gives it
// the journal only while it is shown, so unused it costs nothing.
class ActiveAlarmFilter : public QSortFilterProxyModel {
  Q_OBJECT
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  void setSourceModel(QAbstractItemModel *model) override;

 protected:
  bool filterAcceptsRow(int row, const QModelIndex &parent) const override;

 private:
  void refresh();
  QSet<int> active_;
  QList<QMetaObject::Connection> watching_;
};

// "yyyy-MM-dd HH:mm:ss" in the status-bar clock's zone (pages/ClockZone.h).
QString timeText(qint64 msecs);

}  // namespace journal
