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

bool ChunkCutter::next(Chunk *out) {
  const qsizetype end = input_.indexOf(end_, at_);
  if (end < 0) {
    keep(input_.constData() + at_, input_.size() - at_);
    input_.clear();
    at_ = 0;
    return false;
  }
  keep(input_.constData() + at_, end + 1 - at_);
  at_ = end + 1;
  *out = std::exchange(current_, Chunk());
  return true;
}

ChunkCutter::Chunk ChunkCutter::takePartial() { return std::exchange(current_, Chunk()); }

void ChunkCutter::clear() {
  input_.clear();
  at_ = 0;
  current_ = Chunk();
}

void ChunkCutter::keep(const char *data, qsizetype n) {
  const qsizetype room = std::max<qsizetype>(0, keep_ - current_.head.size());
  const qsizetype taken = std::min(room, n);
  current_.head.append(data, taken);
  current_.leftOut += n - taken;
}
