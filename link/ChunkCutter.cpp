#include "link/ChunkCutter.h"

#include <algorithm>
#include <utility>

void ChunkCutter::add(const char *data, qsizetype n) {
  if (at_ >= input_.size()) {
    input_.clear();
    at_ = 0;
  }
  input_.append(data, n);
}

bool ChunkCutter::next(QByteArray *out) {
  // a chunk ends at its end mark, or when it holds `keep` bytes without one
  const qsizetype room = keep_ - current_.size();
  const qsizetype available = input_.size() - at_;
  const qsizetype end = input_.indexOf(end_, at_);
  qsizetype take = available;
  bool complete = false;
  if (end >= 0 && end + 1 - at_ <= room) {
    take = end + 1 - at_;
    complete = true;
  } else if (available >= room) {
    take = room;
    complete = true;
  }
  current_.append(input_.constData() + at_, take);
  at_ += take;
  if (at_ >= input_.size()) {
    input_.clear();
    at_ = 0;
  }
  if (!complete) return false;
  *out = std::exchange(current_, QByteArray());
  return true;
}

QByteArray ChunkCutter::takePartial() { return std::exchange(current_, QByteArray()); }

void ChunkCutter::clear() {
  input_.clear();
  at_ = 0;
  current_.clear();
}
