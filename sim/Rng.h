// Small deterministic random source: the same seed gives the same sequence on every
// platform and compiler (the standard distributions do not promise that).
#pragma once

#include <cstdint>

namespace sim {

class Rng {
 public:
  explicit Rng(uint64_t seed = 1) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
  // Uniform in [lo, hi], both included; lo <= hi.
  int range(int lo, int hi) {
    return lo + static_cast<int>(next() % static_cast<uint64_t>(hi - lo + 1));
  }
  // Symmetric in [-1, 1].
  double symmetric() { return uniform() * 2.0 - 1.0; }

 private:
  uint64_t state_;
};

}  // namespace sim
