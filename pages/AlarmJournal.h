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

// The events as a table: 时间, 来源, 事件, 详情, oldest first. Keeps the newest kCapacity
// events; older ones are dropped in blocks of kDropBlock.
class JournalModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int kCapacity = 200000;
  static constexpr int kDropBlock = 10000;
  using QAbstractTableModel::QAbstractTableModel;
  int rowCount(const QModelIndex &parent = {}) const override;
  int columnCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void append(const std::vector<Event> &events);
  const Event &event(int row) const { return events_[static_cast<size_t>(row)]; }
  // The texts of one row, as the view shows them.
  QStringList rowTexts(int row) const;
  static const QStringList &headings();

 private:
  std::deque<Event> events_;
};

// "yyyy-MM-dd HH:mm:ss" in the PC's local time.
QString timeText(qint64 msecs);

}  // namespace journal
