// Which decoder an answer goes to: chosen only by the CID1/CID2 of the request it answers.
#pragma once
#include <cstdint>
#include <span>

class TForm1;
class QObject;

using Decoder = void (TForm1::*)(QObject *Sender);
// The decoder of (cid1, cid2), or nullptr when the pair has none.
Decoder findDecoder(int cid1, int cid2);

struct Route {
  uint8_t cid1, cid2;
  Decoder decoder;
};
// Every row of the routing table, in its order: tools that must cover each decoder (the
// fuzzing and its seed answers) go through this list rather than keeping their own.
std::span<const Route> allRoutes();
