#include "pages/Freshness.h"

void StatusFreshness::reset() { *this = StatusFreshness(); }

void StatusFreshness::answered(int64_t nowMs) { last_ = nowMs; }

bool StatusFreshness::live(int64_t nowMs, bool linkOpen, bool polling) const {
  if (!linkOpen || !last_) return false;
  return !polling || nowMs - *last_ <= kStaleAfterMs;
}

void StatusFreshness::moduleListAnswered(const std::array<bool, status::kModules + 1> &listed) {
  ++cycle_;
  listed_ = listed;
}

void StatusFreshness::moduleAnswered(int module) {
  if (module >= 1 && module <= status::kModules) answeredCycle_[module] = cycle_;
}

bool StatusFreshness::moduleKnown(int module) const {
  if (module < 1 || module > status::kModules || cycle_ == 0) return false;
  if (!listed_[module]) return true;
  return answeredCycle_[module] > 0 && cycle_ - answeredCycle_[module] < kModuleStaleCycles;
}
