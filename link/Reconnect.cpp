#include "link/Reconnect.h"

#include <algorithm>

int Reconnect::lost() {
  phase_ = Phase::Waiting;
  return kDelaysS[static_cast<size_t>(std::min<int>(tries_, int(kDelaysS.size()) - 1))];
}

int Reconnect::begin() {
  phase_ = Phase::Opening;
  return ++tries_;
}

void Reconnect::opened() {
  if (phase_ == Phase::Opening) phase_ = Phase::Unconfirmed;
}

bool Reconnect::answered() {
  const bool ended = phase_ == Phase::Unconfirmed;
  if (phase_ == Phase::Unconfirmed || phase_ == Phase::Idle) {
    phase_ = Phase::Idle;
    tries_ = 0;
  }
  return ended;
}

void Reconnect::stop() {
  phase_ = Phase::Idle;
  tries_ = 0;
}
