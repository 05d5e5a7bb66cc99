#include "window/ProtocolLog.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "pages/ClockZone.h"
#include "protocol/Frame.h"
#ifdef __GLIBC__
#include <malloc.h>
#endif

// ---------------------------------------------------------------- store

namespace {

// The first byte of a stored line says how the rest is kept.
constexpr char kTextLine = 0;  // UTF-8 text
constexpr char kHexLine = 1;   // one byte per " XX" group of the shown text
// Either kind with a stamp: the kind plus kStamped, then the time (8 bytes, ms since 1970
// UTC, little-endian) and the direction (1 byte), then the line as its kind keeps it.
constexpr char kStamped = 2;
constexpr std::size_t kStampBytes = 9;

bool stamped(std::string_view stored) { return !stored.empty() && (stored.front() & kStamped); }
char kindOf(std::string_view stored) { return stored.front() & ~kStamped; }
// The line's body as its kind keeps it, past any stamp.
std::string_view bodyOf(std::string_view stored) {
  return stored.substr(stamped(stored) ? 1 + kStampBytes : 1);
}

int hexDigit(char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; }

bool isHexLine(std::string_view text) {
  if (text.empty() || text.size() % 3 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 3)
    if (text[i] != ' ' || hexDigit(text[i + 1]) < 0 || hexDigit(text[i + 2]) < 0) return false;
  return true;
}

}  // namespace

void LogStore::setCapacity(int lines) {
  capacity_ = std::max(1, lines);
  fit();
}

void LogStore::setByteCapacity(std::size_t bytes) {
  byteCapacity_ = std::max<std::size_t>(1, bytes);
  fit();
}

int LogStore::lineBytes(int i) const {
  const int at = skip_ + i;
  const Block &b = blocks_[static_cast<std::size_t>(at / kBlockLines)];
  const int k = at % kBlockLines;
  const uint32_t begin = k ? b.ends[static_cast<std::size_t>(k - 1)] : 0;
  return static_cast<int>(b.ends[static_cast<std::size_t>(k)] - begin);
}

int LogStore::dropNeeded(int lines, std::size_t bytes) const {
  if (lines >= capacity_ || bytes >= byteCapacity_) return count_;
  int drop = std::max(0, count_ + lines - capacity_);
  std::size_t left = bytes_;
  for (int i = 0; i < drop; ++i) left -= static_cast<std::size_t>(lineBytes(i));
  while (drop < count_ && left + bytes > byteCapacity_) left -= static_cast<std::size_t>(lineBytes(drop++));
  return drop;
}

void LogStore::fit() {
  if (count_ <= 1) return;
  const int drop = std::min(count_ - 1, dropNeeded(0, 0));
  if (drop > 0) dropOldest(drop);
}

std::string LogStore::line(int i) const {
  const int at = skip_ + i;
  const Block &b = blocks_[static_cast<std::size_t>(at / kBlockLines)];
  const int k = at % kBlockLines;
  const uint32_t begin = k ? b.ends[static_cast<std::size_t>(k - 1)] : 0;
  const std::string_view stored = std::string_view(b.text).substr(begin, b.ends[static_cast<std::size_t>(k)] - begin);
  if (kindOf(stored) == kHexLine) return proto::hexLogLine(bodyOf(stored));
  return std::string(bodyOf(stored));
}

std::string LogStore::line(int i, bool withStamp) const {
  std::string text = line(i);
  if (!withStamp) return text;
  const int at = skip_ + i;
  const Block &b = blocks_[static_cast<std::size_t>(at / kBlockLines)];
  const int k = at % kBlockLines;
  const uint32_t begin = k ? b.ends[static_cast<std::size_t>(k - 1)] : 0;
  const std::string_view stored = std::string_view(b.text).substr(begin, b.ends[static_cast<std::size_t>(k)] - begin);
  if (!stamped(stored)) return text;
  uint64_t ms = 0;
  for (int j = 7; j >= 0; --j) ms = (ms << 8) | static_cast<uint8_t>(stored[1 + static_cast<std::size_t>(j)]);
  const auto direction = static_cast<LogDirection>(stored[1 + 8]);
  return stampText(static_cast<qint64>(ms), direction) + text;
}

std::string LogStore::stampText(qint64 msecs, LogDirection direction) {
  std::string prefix = clockzone::timeMs(msecs).toStdString();
  switch (direction) {
    case LogDirection::Sent: prefix += " → "; break;
    case LogDirection::Received: prefix += " ← "; break;
    case LogDirection::None: prefix += "   "; break;
  }
  return prefix;
}

std::string LogStore::stamp(std::string stored, qint64 msecs, LogDirection direction) {
  if (stored.empty()) return stored;
  char header[1 + kStampBytes];
  header[0] = static_cast<char>(stored.front() | kStamped);
  uint64_t ms = static_cast<uint64_t>(msecs);
  for (int j = 0; j < 8; ++j, ms >>= 8) header[1 + j] = static_cast<char>(ms & 0xFF);
  header[1 + 8] = static_cast<char>(direction);
  stored.replace(0, 1, header, sizeof header);
  return stored;
}

std::string LogStore::storedText(std::string_view text) {
  std::string stored;
  if (isHexLine(text)) {
    stored.reserve(1 + text.size() / 3);
    stored.push_back(kHexLine);
    for (std::size_t i = 0; i < text.size(); i += 3)
      stored.push_back(static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2])));
  } else {
    stored.reserve(1 + text.size());
    stored.push_back(kTextLine);
    stored.append(text);
  }
  return stored;
}

std::string LogStore::storedFrame(std::string_view chars) {
  if (chars.empty()) return std::string(1, kTextLine);  // an empty line either way
  std::string stored;
  stored.reserve(1 + chars.size());
  stored.push_back(kHexLine);
  stored.append(chars);
  return stored;
}

void LogStore::appendStored(std::string_view stored) {
  if (stored.empty()) return;
  if (blocks_.empty() || blocks_.back().ends.size() == kBlockLines) {
    std::size_t guess = 0;
    if (!blocks_.empty()) {
      blocks_.back().text.shrink_to_fit();  // a full block never grows again
      guess = blocks_.back().text.size();
    }
    blocks_.emplace_back();
    blocks_.back().ends.reserve(kBlockLines);
    blocks_.back().text.reserve(guess);
  }
  Block &b = blocks_.back();
  b.text.append(stored);
  b.ends.push_back(static_cast<uint32_t>(b.text.size()));
  const std::size_t body = bodyOf(stored).size();
  longest_ = std::max(longest_, static_cast<int>(kindOf(stored) == kHexLine ? 3 * body : body));
  ++count_;
  bytes_ += stored.size();
  if (count_ > capacity_ || bytes_ > byteCapacity_) fit();
}

void LogStore::dropOldest(int lines) {
  if (lines >= count_) {
    clear();
    return;
  }
  for (int i = 0; i < lines; ++i) bytes_ -= static_cast<std::size_t>(lineBytes(i));
  count_ -= lines;
  skip_ += lines;
  while (skip_ >= kBlockLines) {
    blocks_.pop_front();
    skip_ -= kBlockLines;
  }
}

void LogStore::clear() {
  std::deque<Block>().swap(blocks_);
  skip_ = count_ = longest_ = 0;
  bytes_ = 0;
#ifdef __GLIBC__
  malloc_trim(0);  // the blocks are small allocations: hand the freed heap back
#endif
}

// ---------------------------------------------------------------- model

int LogModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : store_.size(); }

QString LogModel::text(int row) const {
  const std::string line = store_.line(row, stamps_);
  return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

QVariant LogModel::data(const QModelIndex &index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= store_.size()) return {};
  return text(index.row());
}

void LogModel::setCapacity(int lines) {
  beginResetModel();
  store_.setCapacity(lines);
  endResetModel();
}

void LogModel::setByteCapacity(std::size_t bytes) {
  beginResetModel();
  store_.setByteCapacity(bytes);
  endResetModel();
}

int LogModel::appendBatch(const std::deque<std::string> &storedLines) {
  if (storedLines.empty()) return 0;
  // The newest lines that fit both bounds (the newest one always), then the old lines that
  // must go to make room for them: the store drops nothing more while they go in.
  const int cap = store_.capacity();
  int n = 0;
  std::size_t bytes = 0;
  for (auto it = storedLines.rbegin(); it != storedLines.rend() && n < cap; ++it) {
    if (n > 0 && bytes + it->size() > store_.byteCapacity()) break;
    bytes += it->size();
    ++n;
  }
  const int drop = store_.dropNeeded(n, bytes);
  if (drop > 0) {
    beginRemoveRows(QModelIndex(), 0, drop - 1);
    store_.dropOldest(drop);
    endRemoveRows();
  }
  const int first = store_.size();
  beginInsertRows(QModelIndex(), first, first + n - 1);
  for (auto it = storedLines.end() - n; it != storedLines.end(); ++it) store_.appendStored(*it);
  endInsertRows();
  return drop;
}

void LogModel::setShowStamps(bool on) {
  beginResetModel();
  stamps_ = on;
  endResetModel();
}

void LogModel::clear() {
  beginResetModel();
  store_.clear();
  endResetModel();
}

// ---------------------------------------------------------------- view

TLogView::TLogView(QWidget *parent, int capacity) : QAbstractItemView(parent), model_(new LogModel(capacity, this)) {
  setModel(model_);
  setSelectionMode(ExtendedSelection);
  setSelectionBehavior(SelectRows);
  setEditTriggers(NoEditTriggers);
  setVerticalScrollMode(ScrollPerItem);
  setHorizontalScrollMode(ScrollPerPixel);
  setAutoScroll(true);
  batchTimer_.setSingleShot(true);
  batchTimer_.setInterval(kBatchMs);
  connect(&batchTimer_, &QTimer::timeout, this, &TLogView::flush);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
    if (!adjusting_) follow_ = value >= verticalScrollBar()->maximum();
  });

  stampClock_ = [] { return QDateTime::currentMSecsSinceEpoch(); };
  auto *copy = new QAction(QStringLiteral("复制"), this);
  copy->setObjectName(QStringLiteral("actionCopyLog"));
  connect(copy, &QAction::triggered, this, &TLogView::copySelection);
  addAction(copy);
}

void TLogView::append(const QString &line, LogDirection direction) {
  collect(LogStore::stamp(LogStore::storedText(line.toStdString()), stampClock_(), direction));
}

void TLogView::appendFrame(std::string_view chars, LogDirection direction) {
  collect(LogStore::stamp(LogStore::storedFrame(chars), stampClock_(), direction));
}

void TLogView::setShowStamps(bool on) {
  if (model_->showStamps() == on) return;
  model_->setShowStamps(on);
  updateGeometries();
  viewport()->update();
}

void TLogView::collect(std::string &&stored) {
  pendingBytes_ += stored.size();
  pending_.push_back(std::move(stored));
  while (pending_.size() > 1 && (pending_.size() > static_cast<std::size_t>(capacity()) ||
                                 pendingBytes_ > model_->store().byteCapacity())) {
    pendingBytes_ -= pending_.front().size();
    pending_.pop_front();
  }
  if (!batchTimer_.isActive()) batchTimer_.start();
}

void TLogView::flush() {
  batchTimer_.stop();
  if (pending_.empty()) return;
  QScrollBar *bar = verticalScrollBar();
  const bool follow = follow_;
  const int top = bar->value();
  adjusting_ = true;
  const int dropped = model_->appendBatch(pending_);
  std::deque<std::string>().swap(pending_);
  pendingBytes_ = 0;
  updateGeometries();
  // Following shows the newest line; otherwise the lines the operator reads stay in place.
  bar->setValue(follow ? bar->maximum() : std::max(0, top - dropped));
  adjusting_ = false;
  follow_ = follow;
  viewport()->update();
}

void TLogView::clear() {
  batchTimer_.stop();
  std::deque<std::string>().swap(pending_);
  pendingBytes_ = 0;
  model_->clear();
  follow_ = true;
  updateGeometries();
  viewport()->update();
}

void TLogView::setCapacity(int lines) {
  flush();
  model_->setCapacity(lines);
  updateGeometries();
}

void TLogView::setByteCapacity(std::size_t bytes) {
  flush();
  model_->setByteCapacity(bytes);
  updateGeometries();
}

QString TLogView::selectedText() const {
  std::vector<std::pair<int, int>> ranges;
  for (const QItemSelectionRange &r : selectionModel()->selection()) ranges.emplace_back(r.top(), r.bottom());
  std::sort(ranges.begin(), ranges.end());
  QStringList lines;
  int next = 0;  // overlapping ranges give each line once
  for (auto [top, bottom] : ranges) {
    for (int row = std::max(top, next); row <= bottom; ++row) lines << lineText(row);
    next = std::max(next, bottom + 1);
  }
  return lines.join(QLatin1Char('\n'));
}

void TLogView::copySelection() const {
  if (selectionModel()->hasSelection()) QApplication::clipboard()->setText(selectedText());
}

int TLogView::rowHeight() const { return fontMetrics().height() + 2; }

int TLogView::visibleRows() const { return std::max(1, viewport()->height() / rowHeight()); }

int TLogView::rowAt(int y) const {
  const int h = rowHeight();
  return verticalScrollBar()->value() + (y >= 0 ? y / h : -((h - 1 - y) / h));
}

QRect TLogView::visualRect(const QModelIndex &index) const {
  if (!index.isValid()) return {};
  const int y = (index.row() - verticalScrollBar()->value()) * rowHeight();
  return QRect(-horizontalOffset(), y, std::max(viewport()->width(), horizontalScrollBar()->maximum() + viewport()->width()),
               rowHeight());
}

void TLogView::scrollTo(const QModelIndex &index, ScrollHint hint) {
  if (!index.isValid()) return;
  QScrollBar *bar = verticalScrollBar();
  const int row = index.row(), rows = visibleRows();
  switch (hint) {
    case PositionAtTop: bar->setValue(row); break;
    case PositionAtBottom: bar->setValue(row - rows + 1); break;
    case PositionAtCenter: bar->setValue(row - rows / 2); break;
    case EnsureVisible:
      if (row < bar->value())
        bar->setValue(row);
      else if (row >= bar->value() + rows)
        bar->setValue(row - rows + 1);
      break;
  }
}

QModelIndex TLogView::indexAt(const QPoint &point) const {
  const int row = rowAt(point.y());
  return row >= 0 && row < lineCount() ? model_->index(row) : QModelIndex();
}

QModelIndex TLogView::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
  const int last = lineCount() - 1;
  if (last < 0) return {};
  const int current = currentIndex().isValid() ? currentIndex().row() : verticalScrollBar()->value();
  int row = current;
  switch (action) {
    case MoveUp: case MovePrevious: row = current - 1; break;
    case MoveDown: case MoveNext: row = current + 1; break;
    case MovePageUp: row = current - visibleRows(); break;
    case MovePageDown: row = current + visibleRows(); break;
    case MoveHome: row = 0; break;
    case MoveEnd: row = last; break;
    default: break;
  }
  return model_->index(std::clamp(row, 0, last));
}

int TLogView::horizontalOffset() const { return horizontalScrollBar()->value(); }

int TLogView::verticalOffset() const { return verticalScrollBar()->value() * rowHeight(); }

void TLogView::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) {
  const int last = lineCount() - 1;
  if (last < 0) return;
  const QRect r = rect.normalized();
  const int top = std::clamp(rowAt(r.top()), 0, last), bottom = std::clamp(rowAt(r.bottom()), 0, last);
  selectionModel()->select(QItemSelection(model_->index(top), model_->index(bottom)), command);
}

QRegion TLogView::visualRegionForSelection(const QItemSelection &selection) const {
  QRegion region;
  const int first = verticalScrollBar()->value(), last = first + visibleRows();
  for (const QItemSelectionRange &r : selection) {
    const int top = std::max(r.top(), first), bottom = std::min(r.bottom(), last);
    if (top > bottom) continue;
    region += QRect(0, (top - first) * rowHeight(), viewport()->width(), (bottom - top + 1) * rowHeight());
  }
  return region;
}

void TLogView::updateGeometries() {
  QScrollBar *v = verticalScrollBar();
  const int rows = visibleRows();
  const bool wasAdjusting = adjusting_;
  adjusting_ = true;  // a changed range is not the operator scrolling
  v->setRange(0, std::max(0, lineCount() - rows));
  v->setPageStep(rows);
  v->setSingleStep(1);
  QScrollBar *h = horizontalScrollBar();
  const int width = model_->store().longestLine() * fontMetrics().averageCharWidth() + 8 +
                    (model_->showStamps() ? fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.000 → ")) : 0);
  h->setRange(0, std::max(0, width - viewport()->width()));
  h->setPageStep(viewport()->width());
  h->setSingleStep(fontMetrics().averageCharWidth() * 4);
  adjusting_ = wasAdjusting;
  if (follow_ && !adjusting_) v->setValue(v->maximum());
  QAbstractItemView::updateGeometries();
}

void TLogView::paintEvent(QPaintEvent *) {
  QPainter p(viewport());
  const int first = verticalScrollBar()->value();
  const int last = std::min(lineCount() - 1, first + viewport()->height() / rowHeight() + 1);
  const int h = rowHeight(), x = 3 - horizontalOffset(), w = viewport()->width();
  const QPalette &pal = palette();
  for (int row = first; row <= last; ++row) {
    const QRect line(0, (row - first) * h, w, h);
    const bool selected = selectionModel()->isSelected(model_->index(row));
    if (selected) p.fillRect(line, pal.brush(QPalette::Highlight));
    p.setPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text));
    p.drawText(QRect(x, line.top(), w - x + 4096, h), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               lineText(row));
  }
}

void TLogView::keyPressEvent(QKeyEvent *event) {
  if (event == QKeySequence::Copy) {
    copySelection();
    event->accept();
    return;
  }
  QAbstractItemView::keyPressEvent(event);
}

void TLogView::contextMenuEvent(QContextMenuEvent *event) {
  QMenu menu(this);
  menu.addActions(actions());
  menu.exec(event->globalPos());
}
