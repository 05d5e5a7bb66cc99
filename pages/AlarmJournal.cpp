#include "pages/AlarmJournal.h"

#include <QDateTime>

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
  return QDateTime::fromMSecsSinceEpoch(msecs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// ---------------------------------------------------------------- the table

const QStringList &JournalModel::headings() {
  static const QStringList h = {QStringLiteral("时间"), QStringLiteral("来源"), QStringLiteral("事件"),
                                QStringLiteral("详情")};
  return h;
}

int JournalModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : static_cast<int>(events_.size());
}

int JournalModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : 4; }

QVariant JournalModel::data(const QModelIndex &index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount() || index.column() >= 4) return {};
  const Event &e = events_[static_cast<size_t>(index.row())];
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

QStringList JournalModel::rowTexts(int row) const {
  QStringList texts;
  for (int c = 0; c < 4; ++c) texts << data(index(row, c), Qt::DisplayRole).toString();
  return texts;
}

void JournalModel::append(const std::vector<Event> &events) {
  if (events.empty()) return;
  const int first = rowCount();
  beginInsertRows({}, first, first + static_cast<int>(events.size()) - 1);
  events_.insert(events_.end(), events.begin(), events.end());
  endInsertRows();
  if (rowCount() > kCapacity) {
    const int drop = std::max(kDropBlock, rowCount() - kCapacity);
    beginRemoveRows({}, 0, drop - 1);
    events_.erase(events_.begin(), events_.begin() + drop);
    endRemoveRows();
  }
}

}  // namespace journal
