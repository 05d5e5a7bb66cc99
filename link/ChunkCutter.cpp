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
  // Only the bytes the chunk can still take are looked at: it ends at its end mark, before a
  // second start mark, or when it holds `keep` bytes.
  const qsizetype room = keep_ - current_.size();
  const qsizetype span = std::min(input_.size() - at_, room);
  const QByteArrayView window(input_.constData() + at_, span);
  qsizetype cut = room;  // within the window; `room` when the chunk is full only past it
  if (const qsizetype end = window.indexOf(end_); end >= 0) cut = end + 1;
  qsizetype start = window.indexOf(start_);
  const bool opens = !framed_ && start >= 0 && start < cut;
  if (opens) start = window.indexOf(start_, start + 1);  // the frame's own start mark
  if (start >= 0) cut = std::min(cut, start);
  const bool complete = cut <= span;
  const qsizetype take = complete ? cut : span;
  framed_ = framed_ || opens;
  current_.append(window.data(), take);
  at_ += take;
  if (at_ >= input_.size()) {
    input_.clear();
    at_ = 0;
  }
  if (!complete) return false;
  *out = std::exchange(current_, QByteArray());
  framed_ = false;
  return true;
}

QByteArray ChunkCutter::takePartial() {
  framed_ = false;
  return std::exchange(current_, QByteArray());
}

void ChunkCutter::clear() {
  input_.clear();
  at_ = 0;
  current_.clear();
  framed_ = false;
}
