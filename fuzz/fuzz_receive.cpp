// Fuzzing the window's receive path as the links drive it: chunks of arbitrary bytes reach
// the serial receive event or the LAN receive handler while a routed request is on the line.
//
// An input is
//   byte 0    which row of the routing table is pending (modulo its length)
//   byte 1    bit 0 page-1 refresh running, bit 1 page-2 refresh running, bit 2 status polling
//             running, bit 3 the chunks come over the LAN link instead of the serial line,
//             bit 4 the status page is shown
//   then      pieces, each a length byte and that many bytes (the last one takes what is left):
//             on the serial line each piece is one chunk from the component; on the LAN the
//             pieces are the stream, cut at the end marks as the window cuts it
// Decoders step their chains as they would on a link, so later chunks of one input go to the
// requests those chains built. What was posted is run after each input.
#include "window/ProtocolLog.h"
#include <QTabWidget>
#include <QTcpSocket>

#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzForm.h"
#include "link/ChunkCutter.h"
#include "link/Comm.h"
#include "protocol/Frame.h"
#include "window/Routing.h"
#include "window/HandlerSupport.h"
#include "tests/support/TestForm.h"

namespace {
unsigned long long chunks = 0;
unsigned long long inputs = 0;
// The LAN stream is cut as the window cuts it (at end marks, before a second start mark);
// what has no end mark when the input ends goes on as a chunk of its own.
ChunkCutter lanStream(proto::kStartMark, proto::kEndMark, proto::kSendAreaSize);

void dispatchLan(TestForm &f, const QByteArray &c) {
  ++chunks;
  guarded([&] { f.receiveChunk(f.ClientSocket1, c.constData(), c.size()); });
}

// One piece of received bytes, handed over the way its link hands it.
void deliver(TestForm &f, bool lan, const char *bytes, std::size_t n) {
  if (!lan) {
    ++chunks;
    f.Comm1->OnReceiveData(f.Comm1, bytes, static_cast<uint16_t>(n));
    return;
  }
  lanStream.add(bytes, static_cast<qsizetype>(n));
  QByteArray c;
  while (lanStream.next(&c)) dispatchLan(f, c);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::form();
  fuzz::exceptionsAreFaults = true;
  fuzz::countAtExit("chunks through the receive path", &chunks);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  if (size < 2) return 0;
  TestForm &f = fuzz::form();
  const auto routes = allRoutes();
  const Route &route = routes[data[0] % routes.size()];
  const uint8_t flags = data[1];

  // requests the chains build are sent on a serial link whose port is closed: nothing goes
  // out, the time-out is armed as usual
  f.linkOpen = f.serialLink = true;
  f.lanConnected = false;
  f.page1Refresh = flags & 0x01;
  f.page2Refresh = flags & 0x02;
  f.statusPolling = flags & 0x04;
  const bool lan = flags & 0x08;
  {
    const QSignalBlocker quiet(f.PageControl1);  // no polling tick from the page change
    f.PageControl1->setCurrentIndex(flags & 0x10 ? 1 : 0);
  }
  f.pendingCid1 = route.cid1;
  f.pendingCid2 = route.cid2;
  // the routed request is the one on the line, sent by whoever the flags say runs
  f.exchange().clear();
  Exchange::Request r;
  r.cid1 = route.cid1;
  r.cid2 = route.cid2;
  r.tag = flags & 0x04   ? TestForm::StatusPoll
          : flags & 0x01 ? TestForm::Page1Chain
          : flags & 0x02 ? TestForm::Page2Chain
                         : TestForm::OperatorRequest;
  r.context = data[0] % 14;  // a module, a contact or a record index, sometimes out of range
  r.background = r.tag == TestForm::StatusPoll;
  f.exchange().submit(std::move(r));

  lanStream.clear();
  std::size_t at = 2;
  while (at < size) {
    const std::size_t want = data[at++];
    const std::size_t n = std::min(want, size - at);
    deliver(f, lan, reinterpret_cast<const char *>(data + at), n);
    at += n;
  }
  if (lan && lanStream.partial()) dispatchLan(f, lanStream.takePartial());
  fuzz::settle();
  if (++inputs % 4096 == 0) f.Memo1->clear();  // the log's cap is not what is being fuzzed
  return 0;
}
