// Which decoder an answer goes to: chosen only by the CID1/CID2 of the last request built.
#pragma once
#include <cstdint>

class TForm1;
class QObject;

using Decoder = void (TForm1::*)(QObject *Sender);
// The decoder of (cid1, cid2), or nullptr when the pair has none.
Decoder findDecoder(int cid1, int cid2);
