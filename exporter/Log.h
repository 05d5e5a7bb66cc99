// Lines the exporter writes to stderr (the journal under systemd), and the steady clock its
// endpoints time their clients and budgets by.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace exporter {

// Milliseconds on the steady clock: for intervals only.
inline int64_t steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One line, written at once.
inline void logLine(const std::string &text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

// Text a peer sent, fit for a log line: at most maxBytes, control characters as '?'.
inline std::string printable(const std::string &text, std::size_t maxBytes = 64) {
  std::string out = text.substr(0, maxBytes);
  for (char &c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return text.size() > maxBytes ? out + "..." : out;
}

// At most one line a second, saying how many were held back before it: what a client can
// cause over and over (refused logins, wrong passwords) never floods the journal.
class SparseLog {
 public:
  void operator()(const std::string &text) {
    const auto now = std::chrono::steady_clock::now();
    if (logged_ && now - last_ < std::chrono::seconds(1)) {
      ++held_;
      return;
    }
    logLine(held_ ? text + " (and " + std::to_string(held_) + " more like it before)" : text);
    held_ = 0;
    last_ = now;
    logged_ = true;
  }

 private:
  std::chrono::steady_clock::time_point last_{};
  bool logged_ = false;
  long held_ = 0;
};

}  // namespace exporter
