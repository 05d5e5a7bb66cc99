#include "pages/ClockZone.h"
#include "pages/AlarmJournal.h"

#include <QDateTime>

#include <algorithm>

namespace journal {

QString cleanLabel(const QString &label) {
  QString out;
  out.reserve(label.size());
  for (QChar c : label)
    if (c != QChar(0xFF1A) && !c.isSpace()) out += c;  // U+FF1A is the full-width colon
  return out;
}

QString sourceName(int source) {
  if (source >= 0 && source < kLampSources) return cleanLabel(QString::fromUtf8(status::lamps()[source].label));
  if (source == kAcSource) return QStringLiteral("交流");
  if (source > kAcSource && source < kLinkSource) {
    const int module = (source - kAcSource - 1) % status::kModules + 1;
    return QStringLiteral("模块%1").arg(module);
  }
  if (source == kLinkSource) return QStringLiteral("通讯");
  return {};
}

ModuleAlarm moduleProtection(const status::ModuleRecord &m) {
  return {status::moduleView(m).protection, status::moduleRowTexts(m)[3]};
}

ModuleAlarm moduleFan(const status::ModuleRecord &m) {
  const bool raised = status::moduleView(m).fan;
  return {raised, raised ? QStringLiteral("风机故障") : QStringLiteral("正常")};
}

std::optional<Event> Detector::update(int source, std::optional<bool> raised, const QString &detail, qint64 msecs) {
  if (source < 0 || source >= kSources || !raised) return std::nullopt;
  const size_t s = static_cast<size_t>(source);
  const std::optional<bool> before = state_[s];
  const QString detailBefore = detail_[s];
  state_[s] = raised;
  detail_[s] = detail;
  if (*raised && (before != true || detail != detailBefore))
    return Event{msecs, static_cast<uint16_t>(source), Kind::Raised, detail};
  if (!*raised && before == true) return Event{msecs, static_cast<uint16_t>(source), Kind::Cleared, detail};
  return std::nullopt;
}

std::optional<bool> Detector::known(int source) const {
  if (source < 0 || source >= kSources) return std::nullopt;
  return state_[static_cast<size_t>(source)];
}

QString timeText(qint64 msecs) {
  return clockzone::dateTime(msecs);
}

// ---------------------------------------------------------------- the link and the alerts

std::optional<LinkEpisodes::Entry> LinkEpisodes::down(const QString &reason, qint64 msecs) {
  if (up_ == false) return std::nullopt;  // down already: a try that failed
  // a new episode unless the link came back only lately
  const bool flapping = up_ == true && drops_ > 0 && msecs - upSince_ < kSteadyMs;
  up_ = false;
  if (!flapping) {
    drops_ = 1;
    flapRow_ = false;
    return Entry{{msecs, uint16_t(kLinkSource), Kind::Raised, reason}, false, false};
  }
  ++drops_;
  return flap(Kind::Raised, msecs);
}

std::optional<LinkEpisodes::Entry> LinkEpisodes::up(const QString &how, qint64 msecs) {
  if (up_ == true) return std::nullopt;
  const bool known = up_.has_value();
  up_ = true;
  upSince_ = msecs;
  if (!known || drops_ == 0) return std::nullopt;  // never lost: nothing came back
  if (drops_ == 1) return Entry{{msecs, uint16_t(kLinkSource), Kind::Cleared, how}, false, false};
  return flap(Kind::Cleared, msecs);
}

LinkEpisodes::Entry LinkEpisodes::flap(Kind kind, qint64 msecs) {
  const Entry e{{msecs, uint16_t(kLinkSource), kind, QStringLiteral("连接中断 ×%1").arg(drops_)}, true, flapRow_};
  flapRow_ = true;
  return e;
}

bool AlertPacer::due(int source, qint64 msecs) {
  if (source < 0 || source >= kSources) return false;
  std::optional<qint64> &last = last_[static_cast<size_t>(source)];
  if (last && msecs >= *last && msecs - *last < kQuietMs) return false;
  last = msecs;
  return true;
}

// ---------------------------------------------------------------- the table

QStringList rowTexts(const Event &e) {
  return {timeText(e.msecs), sourceName(e.source),
          e.kind == Kind::Raised ? QStringLiteral("告警") : QStringLiteral("恢复"), e.detail};
}

const QStringList &JournalModel::headings() {
  static const QStringList h = {clockzone::heading(), QStringLiteral("来源"), QStringLiteral("事件"),
                                QStringLiteral("详情")};
  return h;
}

int JournalModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int JournalModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : 4; }

QColor rowColour(const Event &e) {
  if (e.source == kLinkSource) return e.kind == Kind::Raised ? QColor(255, 236, 200) : QColor(222, 236, 250);
  return e.kind == Kind::Raised ? QColor(255, 218, 218) : QColor(222, 244, 222);
}

std::vector<int> activeRows(const JournalModel &model) {
  std::vector<int> latest(kSources, -1);
  for (int r = 0; r < model.rowCount(); ++r) {
    const Event &e = model.eventAt(r);
    if (e.source < kSources) latest[e.source] = r;
  }
  std::vector<int> rows;
  for (int r : latest)
    if (r >= 0 && model.eventAt(r).kind == Kind::Raised) rows.push_back(r);
  std::sort(rows.begin(), rows.end());
  return rows;
}

void ActiveAlarmFilter::setSourceModel(QAbstractItemModel *model) {
  for (const QMetaObject::Connection &c : watching_) disconnect(c);
  watching_.clear();
  active_.clear();
  QSortFilterProxyModel::setSourceModel(model);
  if (!model) return;
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
    watching_ << connect(model, signal, this, &ActiveAlarmFilter::refresh);
  watching_ << connect(model, &QAbstractItemModel::dataChanged, this, &ActiveAlarmFilter::refresh);
  watching_ << connect(model, &QAbstractItemModel::modelReset, this, &ActiveAlarmFilter::refresh);
  refresh();
}

void ActiveAlarmFilter::refresh() {
  active_.clear();
  if (const auto *journal = qobject_cast<const JournalModel *>(sourceModel()))
    for (int r : activeRows(*journal)) active_.insert(r);
  invalidateFilter();
}

bool ActiveAlarmFilter::filterAcceptsRow(int row, const QModelIndex &) const { return active_.contains(row); }

QVariant JournalModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= 4) return {};
  if (role == Qt::BackgroundRole) return rowColour(eventAt(index.row()));
  if (role != Qt::DisplayRole) return {};
  const Event &e = eventAt(index.row());
  switch (index.column()) {
    case 0: return timeText(e.msecs);
    case 1: return sourceName(e.source);
    case 2: return e.kind == Kind::Raised ? QStringLiteral("告警") : QStringLiteral("恢复");
    default: return e.detail;
  }
}

QVariant JournalModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) return section >= 0 && section < 4 ? headings()[section] : QVariant();
  return section + 1;
}

namespace {
bool isLink(const Event &e) { return e.source == kLinkSource; }
}  // namespace

quint64 JournalModel::append(const std::vector<Event> &events) {
  const quint64 first = next_;
  if (events.empty()) return first;
  const int at = rowCount();
  beginInsertRows({}, at, at + static_cast<int>(events.size()) - 1);
  for (const Event &e : events) {
    rows_.push_back({e, next_++});
    if (isLink(e)) ++linkRows_;
  }
  endInsertRows();
  const int alarms = rowCount() - linkRows_;
  if (alarms > kCapacity) dropOldest(false, std::max(kDropBlock, alarms - kCapacity));
  if (linkRows_ > kLinkCapacity) dropOldest(true, std::max(kLinkDropBlock, linkRows_ - kLinkCapacity));
  return first;
}

bool JournalModel::replace(quint64 number, const Event &e) {
  // rows are in the order of their numbers
  const auto it = std::lower_bound(rows_.begin(), rows_.end(), number,
                                   [](const Row &r, quint64 n) { return r.number < n; });
  if (it == rows_.end() || it->number != number || isLink(it->event) != isLink(e)) return false;
  it->event = e;
  const int row = static_cast<int>(it - rows_.begin());
  emit dataChanged(index(row, 0), index(row, 3));
  return true;
}

std::vector<Event> JournalModel::events() const {
  std::vector<Event> out;
  out.reserve(rows_.size());
  for (const Row &r : rows_) out.push_back(r.event);
  return out;
}

void JournalModel::dropOldest(bool link, int count) {
  // the rows to go: the first `count` of their kind
  int seen = 0;
  size_t end = 0;  // past the last row to go
  while (end < rows_.size() && seen < count) seen += isLink(rows_[end++].event) == link;
  if (seen == static_cast<int>(end)) {
    // they lead the table: one removal
    beginRemoveRows({}, 0, static_cast<int>(end) - 1);
    rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(end));
    endRemoveRows();
  } else {
    // among rows of the other kind: the table is laid out again
    beginResetModel();
    std::deque<Row> kept;
    for (size_t i = 0; i < rows_.size(); ++i)
      if (i >= end || isLink(rows_[i].event) != link) kept.push_back(std::move(rows_[i]));
    rows_ = std::move(kept);
    endResetModel();
  }
  if (link) linkRows_ -= seen;
}

}  // namespace journal
