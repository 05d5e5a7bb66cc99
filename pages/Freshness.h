// Whether the status page's values may be shown as current. They are live only while status
// answers keep coming: unknown from start-up and from each new link until the first answer,
// stale when the link closes or when no status answer has been decoded for a while as the
// page polls. A fitted module is stale when its readings went unanswered for a few cycles.
// Pure: time comes in as milliseconds from any steady clock.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "protocol/Status.h"

class StatusFreshness {
 public:
  static constexpr int64_t kStaleAfterMs = 3000;
  static constexpr int kModuleStaleCycles = 3;

  // A link opened (or none is open): nothing is known.
  void reset();
  // A status or AC answer was decoded.
  void answered(int64_t nowMs);
  // Values may be shown as current: answered on this link, and not silent for too long while
  // the page polls.
  bool live(int64_t nowMs, bool linkOpen, bool polling) const;
  std::optional<int64_t> lastAnswerMs() const { return last_; }

  // The module list was decoded: a new cycle; modules not in it are known absent.
  void moduleListAnswered(const std::array<bool, status::kModules + 1> &listed);
  void moduleAnswered(int module);
  // A module row is known: absent by the list, or present and answered lately.
  bool moduleKnown(int module) const;

 private:
  std::optional<int64_t> last_;
  int cycle_ = 0;  // module lists answered on this link
  std::array<bool, status::kModules + 1> listed_{};
  std::array<int, status::kModules + 1> answeredCycle_{};  // 0: never on this link
};
