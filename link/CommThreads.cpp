#include "link/CommThreads.h"

#include "link/CommLine.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <utility>

#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr qsizetype kChunkSize = 2048;  // a received chunk never holds more
constexpr int kLineCheckMs = 50;        // how often modem lines and error counters are looked at

// Raises the calling thread's priority by `steps` nice levels. Without the privilege the
// system refuses and the thread simply runs at normal priority.
void RaisePriority(int steps) {
  const pid_t tid = gettid();
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, tid);
  if (nice == -1 && errno != 0) return;
  (void)setpriority(PRIO_PROCESS, tid, nice - steps);
}

// Poll time-out in whole milliseconds until `when`, rounded up so that a wake-up is never early.
int MsUntil(Clock::time_point when, Clock::time_point now) {
  if (when <= now) return 0;
  const auto ms = std::chrono::ceil<Ms>(when - now).count();
  return static_cast<int>(std::min<int64_t>(ms, 1 << 30));
}

// Bytes as the line discipline hands them over, turned into what the owner receives.
// With error marking on, a byte received with a parity or framing error (or a break)
// arrives as 0xFF 0x00 x and a genuine 0xFF as 0xFF 0xFF; the marks may be split between
// two reads, so the decoder keeps its state.
struct RxDecoder {
  int state = 0;  // 0 plain, 1 after 0xFF, 2 after 0xFF 0x00

  // Returns the number of bytes that came marked bad.
  int Append(QByteArray &out, const char *p, qsizetype n, const TCommShared &s) {
    const bool marks = s.decodeMarks.load();
    const bool replace = s.replaceBad.load();
    const char replacement = s.replacedChar.load();
    const bool dropNulls = s.dropNulls.load();
    auto put = [&](char c) {
      if (!(dropNulls && c == 0)) out.append(c);
    };
    if (!marks) state = 0;
    int bad = 0;
    for (qsizetype i = 0; i < n; ++i) {
      const char b = p[i];
      if (!marks) {
        put(b);
        continue;
      }
      switch (state) {
        case 0:
          if (static_cast<unsigned char>(b) == 0xFF)
            state = 1;
          else
            put(b);
          break;
        case 1:
          if (b == 0) {
            state = 2;
          } else {
            put(char(0xFF));
            if (static_cast<unsigned char>(b) != 0xFF) put(b);
            state = 0;
          }
          break;
        default:
          put(replace ? replacement : b);
          ++bad;
          state = 0;
          break;
      }
    }
    return bad;
  }
};

}  // namespace

void TCommShared::PostLocked(CommMsg type, QByteArray bytes, uint32_t code) {
  // Ownership of the event and its bytes passes to Qt and then to the component.
  auto *event = new TCommEvent(type, std::move(bytes), code, opening.load());
  HandOver(event);
  queued_.fetch_add(1);
  QCoreApplication::postEvent(notify, event);
}

void TCommShared::FlushHeldLocked() {
  constexpr int kMax = TComm::kMaxQueuedNotifications;
  if (dropped_ != 0 && queued_.load() < kMax) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(dropped_, UINT32_MAX));
    PostLocked(CommMsgOverrun, {}, n);
    dropped_ -= n;
  }
  if (heldErrors_ != 0 && queued_.load() < kMax) PostLocked(CommMsgError, {}, std::exchange(heldErrors_, 0));
  if (heldModem_ != 0 && queued_.load() < kMax) PostLocked(CommMsgModem, {}, std::exchange(heldModem_, 0));
  holding_ = dropped_ != 0 || heldErrors_ != 0 || heldModem_ != 0;
}

void TCommShared::PostData(const char *bytes, qsizetype size) {
  std::lock_guard<std::mutex> lock(handLock_);
  FlushHeldLocked();
  // Held notifications first: a chunk never overtakes the report of a gap before it.
  if (holding_ || queued_.load() >= TComm::kMaxQueuedNotifications) {
    dropped_ += static_cast<uint64_t>(size);
    holding_ = true;
    return;
  }
  // Bytes of its own: a posted chunk never shares storage with the receive buffer.
  PostLocked(CommMsgData, QByteArray(bytes, size), 0);
}

void TCommShared::PostError(uint32_t flags) {
  if (flags == 0) return;
  std::lock_guard<std::mutex> lock(handLock_);
  heldErrors_ |= flags;
  FlushHeldLocked();
}

void TCommShared::PostModem(uint32_t code) {
  if (code == 0) return;
  std::lock_guard<std::mutex> lock(handLock_);
  heldModem_ |= code;
  FlushHeldLocked();
}

void TCommShared::Post(CommMsg type) {
  std::lock_guard<std::mutex> lock(handLock_);
  PostLocked(type, {}, 0);
}

void TCommShared::Taken() { queued_.fetch_sub(1); }

void TCommShared::FlushHeld() {
  std::lock_guard<std::mutex> lock(handLock_);
  FlushHeldLocked();
}

void TCommShared::ForgetHeld() {
  std::lock_guard<std::mutex> lock(handLock_);
  dropped_ = 0;
  heldErrors_ = heldModem_ = 0;
  holding_ = false;
}

bool TCommShared::StopSignalled() const {
  pollfd p{stopEvent, POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}

// ---------------------------------------------------------------------------------------
// Receive thread.
//
// A chunk starts with the first byte after a delivery and is delivered when
//  - it holds 2048 bytes, or
//  - the end character (when one is set) arrives, or
//  - ReadIntervalTimeout ms pass without a further byte (100 ms on the main window's link), or
//  - a total read time-out is set and ReadTotalTimeoutMultiplier * 2048 +
//    ReadTotalTimeoutConstant ms have passed since the chunk's first byte.
// The wait for a first byte never times out, so no empty chunk is ever delivered.
// ReadIntervalTimeout 0 with no total time-out gathers full 2048-byte chunks only;
// ReadIntervalTimeout 0xFFFFFFFF with no total time-out delivers each read as it comes.

void TReadThread::Start() { thread_ = std::thread([this] { Run(); }); }

void TReadThread::Join() {
  if (thread_.joinable()) thread_.join();
}

void TReadThread::Run() {
  RaisePriority(2);
  TCommShared &s = *shared_;
  const int fd = s.port;

  commline::ModemLines modem;
  const bool haveModem = commline::readModem(fd, &modem);
  commline::ErrorCounters counters;
  const bool haveCounters = commline::readCounters(fd, &counters);
  const bool watchLines = haveModem || haveCounters;
  Clock::time_point nextLineCheck = Clock::now() + Ms(kLineCheckMs);

  QByteArray chunk;
  Clock::time_point firstByte, lastByte;
  RxDecoder decoder;
  char raw[kChunkSize];
  bool hangup = false;

  auto deliver = [&](qsizetype n) {
    s.PostData(chunk.constData(), n);
    chunk.remove(0, n);
  };
  auto deliverFull = [&] {
    while (chunk.size() >= kChunkSize) deliver(kChunkSize);
  };
  // Every chunk that the end character completes goes at once; the rest waits.
  auto deliverEnded = [&] {
    const int end = s.endChar.load();
    if (end < 0) return;
    qsizetype at;
    while ((at = chunk.indexOf(static_cast<char>(end))) >= 0) {
      deliver(at + 1);
      firstByte = lastByte;
    }
  };
  auto deliverAll = [&] {
    deliverFull();
    if (!chunk.isEmpty()) deliver(chunk.size());
  };
  // When the pending chunk ends; false when only a full buffer ends it.
  auto chunkEnd = [&](Clock::time_point *end) {
    const uint32_t interval = s.readInterval.load();
    const uint32_t multiplier = s.readTotalMultiplier.load();
    const uint32_t constant = s.readTotalConstant.load();
    const bool total = multiplier != 0 || constant != 0;
    if (interval == UINT32_MAX && !total) {
      *end = lastByte;
      return true;
    }
    bool any = false;
    *end = Clock::time_point::max();
    if (interval != 0) {
      *end = lastByte + Ms(interval);
      any = true;
    }
    if (total) {
      *end = std::min(*end, firstByte + Ms(uint64_t(multiplier) * kChunkSize + constant));
      any = true;
    }
    return any;
  };

  for (;;) {
    Clock::time_point now = Clock::now();
    int timeout = -1;
    if (!chunk.isEmpty()) {
      Clock::time_point end;
      if (chunkEnd(&end)) {
        if (now >= end) {
          deliverAll();
          continue;
        }
        timeout = MsUntil(end, now);
      }
    }
    if (watchLines) {
      const int t = MsUntil(nextLineCheck, now);
      timeout = timeout < 0 ? t : std::min(timeout, t);
    }

    pollfd fds[2] = {{s.stopEvent, POLLIN, 0}, {fd, POLLIN, 0}};
    const int r = poll(fds, 2, timeout);
    if (r < 0) {
      if (errno == EINTR) continue;
      s.PostError(CommErrorRead);
      hangup = true;
      break;
    }
    if (fds[0].revents != 0) break;          // stop: a pending part-chunk is dropped
    if (fds[1].revents & POLLNVAL) break;     // the port was closed under the thread: end quietly
    if (fds[1].revents != 0) {
      const ssize_t n = read(fd, raw, size_t(kChunkSize - chunk.size()));  // the chunk is never full here
      if (n > 0) {
        s.receivedBytes.fetch_add(static_cast<uint64_t>(n));
        lastByte = Clock::now();
        if (chunk.isEmpty()) firstByte = lastByte;
        commline::ModemLines lines;
        const bool dsrLow = s.dsrSensitive.load() && haveModem && commline::readModem(fd, &lines) && !lines.dsr;
        s.lastReceivedNs = lastByte.time_since_epoch().count();
        // The marks are the only word of bad bytes from a device without counters.
        if (!dsrLow && decoder.Append(chunk, raw, n, s) > 0 && !haveCounters) s.PostError(CommErrorBadByte);
        deliverEnded();
        deliverFull();
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR) && !(fds[1].revents & (POLLHUP | POLLERR))) {
        // spurious wake-up
      } else if (n < 0 && errno == EBADF) {
        break;
      } else {
        // End of file, or EIO (a line that hung up, a device unplugged): the device is gone.
        // Any other failure is a failed read as well.
        const bool failed = n < 0 && errno != EIO && errno != EAGAIN && errno != EINTR;
        deliverAll();
        if (failed) s.PostError(CommErrorRead);
        hangup = true;
        break;
      }
    }

    if (watchLines && Clock::now() >= nextLineCheck) {
      nextLineCheck = Clock::now() + Ms(kLineCheckMs);
      commline::ModemLines m;
      if (haveModem && commline::readModem(fd, &m)) {
        const uint32_t code = (m.carrier != modem.carrier ? 8u : 0u) | (m.ring != modem.ring ? 4u : 0u);
        modem = m;
        s.PostModem(code);
      }
      commline::ErrorCounters c;
      if (haveCounters && commline::readCounters(fd, &c)) {
        uint32_t flags = 0;
        if (c.bufOverrun != counters.bufOverrun) flags |= CommErrorRxOver;
        if (c.overrun != counters.overrun) flags |= CommErrorOverrun;
        if (c.parity != counters.parity) flags |= CommErrorParity;
        if (c.frame != counters.frame) flags |= CommErrorFrame;
        if (c.brk != counters.brk) flags |= CommErrorBreak;
        counters = c;
        s.PostError(flags);
      }
    }
  }

  if (hangup) s.Post(CommMsgHangup);
  (void)tcflush(fd, TCIFLUSH);
}

// ---------------------------------------------------------------------------------------
// Transmit thread: writes the queued requests strictly in order, each in full (however long
// flow control holds the line, and whatever the write time-outs), each after the turnaround
// guard (see Comm.h).

void TWriteThread::Start() { thread_ = std::thread([this] { Run(); }); }

void TWriteThread::Join() {
  if (thread_.joinable()) thread_.join();
}

void TWriteThread::Run() {
  RaisePriority(1);
  TCommShared &s = *shared_;
  bool notify = true;
  bool hangup = false;

  for (;;) {
    QByteArray block;
    bool have = false;
    {
      std::lock_guard<std::mutex> lock(s.queueLock);
      if (!s.queue.empty()) {
        block = std::move(s.queue.front());
        s.queue.pop_front();
        s.queuedBytes -= block.size();
        have = true;
      } else {
        s.transmitIdle->store(true);
      }
    }
    if (!have) {
      if (notify) s.Post(CommMsgTxEmpty);
      notify = false;
      pollfd fds[2] = {{s.stopEvent, POLLIN, 0}, {s.writeWakeup, POLLIN, 0}};
      const int r = poll(fds, 2, -1);
      if (r < 0) {
        if (errno == EINTR) continue;
        hangup = true;
        break;
      }
      if (fds[0].revents != 0) break;
      if (fds[1].revents & POLLIN) {
        uint64_t count;
        (void)read(s.writeWakeup, &count, sizeof count);
      } else if (fds[1].revents != 0) {
        hangup = true;
        break;
      }
      continue;
    }
    if (s.StopSignalled() || !KeepTurnaround()) break;
    if (WriteAll(block) != WriteResult::Done) break;
    notify = true;
  }

  if (hangup) s.Post(CommMsgHangup);
  (void)tcflush(s.port, TCOFLUSH);
  {
    // What is still queued will never be written: let it go, and take no more.
    std::lock_guard<std::mutex> lock(s.queueLock);
    s.accepting = false;
    std::deque<QByteArray>().swap(s.queue);
    s.queuedBytes = 0;
    s.transmitIdle->store(true);
  }
}

bool TWriteThread::KeepTurnaround() {
  TCommShared &s = *shared_;
  for (;;) {
    const int64_t last = s.lastReceivedNs.load();
    if (last == 0) return true;
    const uint32_t baud = std::max<uint32_t>(1, s.baud.load());
    const int64_t guardNs = int64_t(s.bitsPerChar.load()) * 3'500'000'000LL / baud;  // 3.5 characters
    const Clock::time_point free = Clock::time_point(Clock::duration(last)) + std::chrono::nanoseconds(guardNs);
    const Clock::time_point now = Clock::now();
    if (now >= free) return true;
    // Sleep until then; a byte received meanwhile moves the time on, so look again.
    pollfd stop{s.stopEvent, POLLIN, 0};
    timespec ts{};
    const int64_t waitNs = std::chrono::duration_cast<std::chrono::nanoseconds>(free - now).count();
    ts.tv_sec = waitNs / 1'000'000'000;
    ts.tv_nsec = waitNs % 1'000'000'000;
    const int r = ppoll(&stop, 1, &ts, nullptr);
    if (r > 0) return false;  // stopped
    if (r < 0 && errno != EINTR) {
      s.Post(CommMsgHangup);
      return false;
    }
  }
}

TWriteThread::WriteResult TWriteThread::WriteAll(const QByteArray &block) {
  TCommShared &s = *shared_;
  const char *p = block.constData();
  size_t remaining = static_cast<size_t>(block.size());

  while (remaining > 0) {
    const ssize_t n = write(s.port, p, remaining);
    if (n > 0) {
      p += n;
      remaining -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EBADF) return WriteResult::Failed;  // closed under the thread: quietly
    if (n < 0 && errno != EAGAIN) {
      s.Post(CommMsgHangup);
      return WriteResult::Failed;
    }
    // The device's queue is full: wait until it takes more, or for the stop event.
    pollfd fds[2] = {{s.stopEvent, POLLIN, 0}, {s.port, POLLOUT, 0}};
    const int r = poll(fds, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      s.Post(CommMsgHangup);
      return WriteResult::Failed;
    }
    if (fds[0].revents != 0) return WriteResult::Stopped;
    if (fds[1].revents & POLLNVAL) return WriteResult::Failed;
    if (fds[1].revents & (POLLERR | POLLHUP)) {
      s.Post(CommMsgHangup);
      return WriteResult::Failed;
    }
  }
  return WriteResult::Done;
}
