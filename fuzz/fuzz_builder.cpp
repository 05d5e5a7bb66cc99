// Fuzzing the request builder and the decimal conversion behind every parameter write.
//
// An input is
//   byte 0    the scale of the conversion: 1, 10 or 100 (modulo 3)
//   then      UTF-8 texts separated by zero bytes: address, CID1, CID2, data, number
// The texts go into the window's boxes and "生成命令" builds the request. A frame that was
// built must read back as exactly what the boxes said; one that was refused must leave
// the frame that was there before untouched. A conversion that succeeds gives a number
// that a write can carry.
#include <QLineEdit>
#include "window/ProtocolLog.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzForm.h"
#include "protocol/Conversions.h"
#include "protocol/Frame.h"
#include "window/HandlerSupport.h"
#include "tests/support/TestForm.h"

namespace {
unsigned long long inputs = 0;

[[noreturn]] void fault(const char *what) {
  std::fprintf(stderr, "builder fault: %s\n", what);
  std::abort();
}

void checkBuilt(TestForm &f) {
  if (f.txLength <= 0 || f.txLength > proto::kSendAreaSize) fault("frame length out of bounds");
  const std::string_view frame(f.txBuffer, static_cast<std::size_t>(f.txLength));
  const proto::FrameParse p = proto::parseFrame(frame);
  if (p.error != proto::FrameError::None || p.consumed != frame.size()) fault("built frame does not read back");
  if (p.frame.adr != StrToInt(f.Edit1->text())) fault("address differs");
  if (p.frame.cid1 != f.pendingCid1 || p.frame.cid2OrRtn != f.pendingCid2) fault("CID1/CID2 differ from pending");
  const std::string cid1 = f.Edit2->text().toStdString(), cid2 = f.Edit3->text().toStdString();
  if (proto::hexByte(cid1[0], cid1[1]) != p.frame.cid1 || proto::hexByte(cid2[0], cid2[1]) != p.frame.cid2OrRtn)
    fault("CID1/CID2 differ from the boxes");
  if (proto::hexBytes(f.Edit4->text().toStdString()) != p.frame.data) fault("data differs from the box");
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::form();
  fuzz::countAtExit("builder inputs", &inputs);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  ++inputs;
  TestForm &f = fuzz::form();
  static const int kScales[3] = {1, 10, 100};
  const int scale = kScales[data[0] % 3];

  std::vector<QString> texts;
  const char *p = reinterpret_cast<const char *>(data + 1);
  const char *end = reinterpret_cast<const char *>(data + size);
  while (p <= end && texts.size() < 5) {
    const char *stop = static_cast<const char *>(std::memchr(p, 0, static_cast<std::size_t>(end - p)));
    if (!stop) stop = end;
    texts.push_back(QString::fromUtf8(p, stop - p));
    p = stop + 1;
  }
  texts.resize(5);

  f.Edit1->setText(texts[0]);
  f.Edit2->setText(texts[1]);
  f.Edit3->setText(texts[2]);
  f.Edit4->setText(texts[3]);
  const std::string before(f.txBuffer, sizeof f.txBuffer);
  const int lengthBefore = f.txLength;
  bool built = false;
  try {
    f.Button1Click();
    built = f.lastBuildOk();
  } catch (const EConvertError &) {
    // an address that is no integer: the default error display, nothing built
  }
  if (built)
    checkBuilt(f);
  else if (f.txLength != lengthBefore || std::string(f.txBuffer, sizeof f.txBuffer) != before)
    fault("a refused build changed the frame");

  bool ok = false;
  const int value = f.chartofloat(texts[4], scale, &ok);
  if (value < 0) fault("a conversion gave a negative number");
  if (!ok && value != 0) fault("a refused conversion gave a number");
  if (ok && proto::intto4char(value).size() < 4) fault("a converted number has no four hex digits");
  fuzz::settle();
  if (inputs % 4096 == 0) f.Memo1->clear();  // the log's cap is not what is being fuzzed
  return 0;
}
