// Trying a lost link again, and when. The tries wait 1, 2, 4, 8 and 16 s, then 30 s each,
// counted from the drop. A connection alone proves nothing (a peer may accept and close at
// once): only an answer from the controller on the new link ends the tries, so a link that
// keeps dropping before it answers meets ever longer waits, and the count of tries goes on.
// Pure logic: the owner opens the link, runs the timer and tells what happened.
#pragma once

#include <array>

class Reconnect {
 public:
  static constexpr std::array<int, 6> kDelaysS{1, 2, 4, 8, 16, 30};

  enum class Phase {
    Idle,         // not reconnecting
    Waiting,      // for the next try's time
    Opening,      // a try is opening or connecting the link
    Unconfirmed,  // the try's link is up; no answer from the controller on it yet
  };
  Phase phase() const { return phase_; }
  bool active() const { return phase_ != Phase::Idle; }
  // Tries made since the link was lost (the one under way included).
  int tries() const { return tries_; }

  // The link went down: the drop itself, or a try that failed or lost its link before the
  // controller answered. Returns the seconds to wait before the next try.
  int lost();
  // The next try starts; returns its number, counted from 1.
  int begin();
  // The try's link is open (serial) or connected (LAN).
  void opened();
  // The controller answered on the link. True when that ends a reconnect; the next drop
  // starts again from the shortest wait.
  bool answered();
  // The operator stopped the tries (or closed the window).
  void stop();

 private:
  Phase phase_ = Phase::Idle;
  int tries_ = 0;
};
