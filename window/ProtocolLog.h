// The protocol log (the window's Memo1): every frame built, every chunk received with its sum
// and the decoders' error lines, newest last.
//
// Store. Lines are kept as byte strings in a ring of blocks of 1024 lines (LogStore): a line
// costs its bytes, one kind byte and a 4-byte end offset. Text lines are kept as UTF-8; the
// hexadecimal lines of frames and chunks (" 7E 30 31 ...") as the characters they show, a
// third of their text, and are written out again when shown. The newest `capacity` lines
// are kept, and no more than kMaxBytes of stored lines (64 MiB: some 32 000 chunks of 2048
// bytes; the lines of a status poll average some 30 bytes, so for them the line bound comes
// first); the oldest go first, the newest line always stays. Lines collected but not yet shown are bounded the same way.
// Clearing gives the memory back.
//
// View. TLogView is an item view over a one-column model with one row per line
// (Qt::DisplayRole is the line's text). It lays out and paints only the visible lines, all of
// one height, so its cost does not grow with the log. Lines can be selected (click, drag,
// shift, Ctrl+A) and copied (Ctrl+C or the context menu); the context menu also holds the
// actions the window adds to the view.
//
// Timing. append() only collects the line. The collected lines are shown together, in one
// insertion, at most every 50 ms from the event loop: logging never lays out or paints while
// an answer is being handled, so a chain's next request goes out without waiting for the log.
// The view follows the newest line unless the operator has scrolled away from the bottom.
#pragma once

#include <QAbstractItemView>
#include <QAbstractListModel>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Which way a line's frame went: sent to the controller, received from it, or neither (a
// message of the window's own).
enum class LogDirection : uint8_t { None, Sent, Received };

class LogStore {
 public:
  static constexpr std::size_t kMaxBytes = std::size_t(64) << 20;
  explicit LogStore(int capacity, std::size_t byteCapacity = kMaxBytes)
      : capacity_(capacity), byteCapacity_(byteCapacity) {}
  int size() const { return count_; }
  int capacity() const { return capacity_; }
  std::size_t byteCapacity() const { return byteCapacity_; }
  // Bytes of the stored lines kept (each line's stored form, see storedText).
  std::size_t bytes() const { return bytes_; }
  // A smaller capacity drops the oldest lines at once.
  void setCapacity(int lines);
  void setByteCapacity(std::size_t bytes);
  // How many of the oldest lines must go so that `lines` more lines of `bytes` bytes in all
  // fit both bounds (all of them when the new ones alone fill a bound).
  int dropNeeded(int lines, std::size_t bytes) const;
  std::string line(int i) const;  // UTF-8
  // With its time (ms, in the clock's zone) and direction in front, when it was stamped.
  std::string line(int i, bool withStamp) const;
  // A stored line with its time and direction: shown or not as the view chooses, it costs
  // nine bytes.
  static std::string stamp(std::string stored, qint64 msecs, LogDirection direction);
  static std::string stampText(qint64 msecs, LogDirection direction);
  void append(std::string_view text) { appendStored(storedText(text)); }
  // The stored form of a line: of its UTF-8 text, or of the characters of a frame or chunk
  // (shown as " 7E 30 31 ..."). Appending the stored form is the same as appending the text.
  static std::string storedText(std::string_view text);
  static std::string storedFrame(std::string_view chars);
  void appendStored(std::string_view stored);
  void dropOldest(int lines);
  void clear();
  // Characters of the longest line appended since the last clear.
  int longestLine() const { return longest_; }

 private:
  static constexpr int kBlockLines = 1024;
  struct Block {
    std::string text;             // the lines, one after the other
    std::vector<uint32_t> ends;   // end offset of each line in text
  };
  std::deque<Block> blocks_;
  int lineBytes(int i) const;
  void fit();  // drops what the bounds leave no room for, the newest line excepted

  int skip_ = 0;  // lines already dropped from the first block
  int count_ = 0;
  std::size_t bytes_ = 0;
  int capacity_;
  std::size_t byteCapacity_;
  int longest_ = 0;
};

class LogModel : public QAbstractListModel {
  Q_OBJECT
 public:
  explicit LogModel(int capacity, QObject *parent = nullptr) : QAbstractListModel(parent), store_(capacity) {}
  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  QString text(int row) const;
  const LogStore &store() const { return store_; }
  bool showStamps() const { return stamps_; }
  void setShowStamps(bool on);
  void setCapacity(int lines);
  void setByteCapacity(std::size_t bytes);
  // Drops what the capacity leaves no room for (one removal), then inserts (one insertion).
  // Returns the number of old lines dropped.
  int appendBatch(const std::deque<std::string> &storedLines);
  void clear();

 private:
  LogStore store_;
  bool stamps_ = false;
};

class TLogView : public QAbstractItemView {
  Q_OBJECT
 public:
  static constexpr int kBatchMs = 50;
  TLogView(QWidget *parent, int capacity);

  // Collects a line; it is shown within kBatchMs. Every line is stamped with the time it came
  // and its direction; "显示时间和方向" shows them in front of it.
  void append(const QString &line, LogDirection direction = LogDirection::None);
  // Collects the hexadecimal line of a frame's or chunk's characters, without writing it out.
  void appendFrame(std::string_view chars, LogDirection direction = LogDirection::None);
  // Whether each line shows its time and direction (off: the lines as built and received).
  bool showStamps() const { return model_->showStamps(); }
  void setShowStamps(bool on);
  // The clock of the stamps, ms since 1970 UTC; tests replace it.
  void setStampClock(std::function<qint64()> clock) { stampClock_ = std::move(clock); }
  // Shows the collected lines now.
  void flush();
  bool hasPending() const { return !pending_.empty(); }
  // Empties the log, the collected lines included, and gives the memory back.
  void clear();
  int capacity() const { return model_->store().capacity(); }
  void setCapacity(int lines);
  void setByteCapacity(std::size_t bytes);
  int lineCount() const { return model_->rowCount(); }
  const LogStore &store() const { return model_->store(); }
  QString lineText(int row) const { return model_->text(row); }  // as shown
  // True while the view shows the newest line and keeps doing so.
  bool following() const { return follow_; }
  // The selected lines, in log order, one per line.
  QString selectedText() const;
  void copySelection() const;

  QRect visualRect(const QModelIndex &index) const override;
  void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
  QModelIndex indexAt(const QPoint &point) const override;

 protected:
  QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
  int horizontalOffset() const override;
  int verticalOffset() const override;
  bool isIndexHidden(const QModelIndex &) const override { return false; }
  void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;
  QRegion visualRegionForSelection(const QItemSelection &selection) const override;
  void updateGeometries() override;
  void paintEvent(QPaintEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  void contextMenuEvent(QContextMenuEvent *event) override;

 private:
  int rowHeight() const;
  int visibleRows() const;  // whole rows that fit the viewport
  int rowAt(int y) const;   // unclamped
  void collect(std::string &&stored);

  LogModel *model_;
  std::deque<std::string> pending_;  // stored forms
  std::size_t pendingBytes_ = 0;
  QTimer batchTimer_;
  bool follow_ = true;
  bool adjusting_ = false;  // the log itself moves the scroll bar
  std::function<qint64()> stampClock_;
};
