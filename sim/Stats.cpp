#include "sim/Stats.h"

#include <algorithm>
#include <cstdio>

namespace sim {

void Stats::dataArrived(int64_t us) {
  if (lastWriteUs_ < 0) return;
  if (turnaroundUs_.size() < kMaxSamples) turnaroundUs_.push_back(std::max<int64_t>(0, us - lastWriteUs_));
  lastWriteUs_ = -1;
}

std::vector<std::string> Stats::lines() const {
  std::vector<std::string> out;
  char buf[96];
  for (const auto &[k, n] : answered_) {
    std::snprintf(buf, sizeof buf, "stats answered %02X/%02X %llu", k >> 8, k & 0xFF,
                  static_cast<unsigned long long>(n));
    out.emplace_back(buf);
  }
  std::vector<int64_t> s = turnaroundUs_;
  std::sort(s.begin(), s.end());
  long long median = 0, p99 = 0;
  if (!s.empty()) {
    median = s[(s.size() - 1) / 2];
    std::size_t i = (s.size() * 99 + 99) / 100;  // nearest rank
    p99 = s[std::min(s.size(), std::max<std::size_t>(i, 1)) - 1];
  }
  std::snprintf(buf, sizeof buf, "stats turnaround samples=%zu median_us=%lld p99_us=%lld", s.size(), median, p99);
  out.emplace_back(buf);
  return out;
}

}  // namespace sim
