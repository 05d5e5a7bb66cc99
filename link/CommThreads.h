// The worker threads of TComm and what they share with it. Internal to the component.
#pragma once

#include "link/Comm.h"

#include <QByteArray>
#include <QEvent>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

// The posted-event queue hands each notification over under the toolkit's own lock, which a
// thread checker cannot see (the toolkit is not instrumented). HandOver (worker thread,
// before posting) and TakeOver (owner's thread, before reading) tell it about that
// hand-over; they compile to nothing in other builds.
#if defined(__SANITIZE_THREAD__)
#define POWERHOST_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define POWERHOST_TSAN 1
#endif
#endif
#ifdef POWERHOST_TSAN
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
inline void HandOver(void *event) { __tsan_release(event); }
inline void TakeOver(void *event) { __tsan_acquire(event); }
#else
inline void HandOver(void *) {}
inline void TakeOver(void *) {}
#endif

// A notification from a worker thread to the component. It carries its bytes (for
// CommMsgData) or its code (error flags, modem event, dropped bytes) and owns them until it
// is deleted.
class TCommEvent : public QEvent {
 public:
  TCommEvent(CommMsg type, QByteArray bytes, uint32_t code, uint32_t opening)
      : QEvent(static_cast<QEvent::Type>(type)), Data(std::move(bytes)), Code(code), Opening(opening) {}
  QByteArray Data;
  uint32_t Code;
  uint32_t Opening;  // the opening of the port it belongs to (TCommShared::opening)
};

// Written by the component before the threads start (handles) or at any time (options,
// atomics); read by the threads. Lives as long as the component, so longer than the threads.
struct TCommShared {
  int port = -1;
  int stopEvent = -1;   // eventfd; once signalled it stays readable for both threads
  int writeWakeup = -1; // eventfd; signalled for each queued transmit request
  QObject *notify = nullptr;
  std::atomic<bool> *transmitIdle = nullptr;

  // The transmit queue. accepting: the transmit thread runs and takes requests.
  std::mutex queueLock;
  std::deque<QByteArray> queue;
  qsizetype queuedBytes = 0;
  bool accepting = false;

  // Reception and transmission options, changeable while open.
  std::atomic<uint32_t> readInterval{100};
  std::atomic<uint32_t> readTotalMultiplier{0};
  std::atomic<uint32_t> readTotalConstant{0};
  std::atomic<bool> decodeMarks{false};  // the line marks bad bytes (0xFF 0x00 x)
  std::atomic<bool> replaceBad{false};
  std::atomic<char> replacedChar{0};
  std::atomic<bool> dropNulls{false};
  std::atomic<bool> dsrSensitive{false};
  std::atomic<int> endChar{-1};
  // For the turnaround guard: the line's speed and character size, and when the receive
  // thread last got a byte (steady clock, nanoseconds; 0 when none yet).
  std::atomic<uint32_t> baud{9600};
  std::atomic<int> bitsPerChar{10};
  std::atomic<int64_t> lastReceivedNs{0};
  std::atomic<uint64_t> receivedBytes{0};
  // Counts the closings of the port: every notification carries the count of its opening,
  // and one from an opening that has since been closed is dropped unraised.
  std::atomic<uint32_t> opening{0};

  // The hand-over to the owner's thread (see Comm.h). Every notification posted counts in
  // queued until the component has raised it. A chunk that finds the hand-over full is
  // dropped into `dropped`; error flags and modem events are merged into held ones. Held
  // things go out, before anything else, as soon as there is room: from the receive thread
  // at its next post or retry, from the owner's thread as it takes notifications.
  // A hang-up request and the transmit thread's notifications are never held back (a
  // thread posts one hang-up at most, and one TxEmpty per write).
  void PostData(const char *bytes, qsizetype size);  // receive thread
  void PostError(uint32_t flags);    // any thread
  void PostModem(uint32_t code);     // receive thread
  void Post(CommMsg type);           // hang-up or TxEmpty
  void Taken();                      // owner's thread, once for each notification raised
  bool Holding() const { return holding_.load(); }
  void FlushHeld();                  // posts what is held if there is room
  void ForgetHeld();                 // a new opening: what an old one held is gone
  bool StopSignalled() const;

 private:
  void PostLocked(CommMsg type, QByteArray bytes, uint32_t code);
  void FlushHeldLocked();
  std::mutex handLock_;
  std::atomic<int> queued_{0};
  std::atomic<bool> holding_{false};
  uint64_t dropped_ = 0;
  uint32_t heldErrors_ = 0;
  uint32_t heldModem_ = 0;
};

class TReadThread {
 public:
  explicit TReadThread(TCommShared *shared) : shared_(shared) {}
  ~TReadThread() { Join(); }
  void Start();  // throws std::system_error when no thread can be made
  void Join();

 private:
  void Run();
  TCommShared *shared_;
  std::thread thread_;
};

class TWriteThread {
 public:
  explicit TWriteThread(TCommShared *shared) : shared_(shared) {}
  ~TWriteThread() { Join(); }
  void Start();
  void Join();

 private:
  enum class WriteResult { Done, Stopped, Failed };
  void Run();
  WriteResult WriteAll(const QByteArray &block);
  bool KeepTurnaround();  // false when stopped while waiting
  TCommShared *shared_;
  std::thread thread_;
};
