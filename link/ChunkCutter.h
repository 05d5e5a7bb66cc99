// Cuts a received byte stream into chunks, for a link whose reads carry no frame boundaries
// (a TCP stream may bring part of an answer, or two). A chunk ends
// - with its end mark;
// - before a start mark when it holds one already (a frame that never ended: the next one
//   starts there);
// - after `keep` bytes, whichever comes first, so a peer that never sends the end mark cannot
//   make it grow: its stream is cut into chunks of that size.
// A frame split in time stays one chunk: its pieces wait for its end mark.
#pragma once

#include <QByteArray>

class ChunkCutter {
 public:
  ChunkCutter(char startMark, char endMark, qsizetype keep) : start_(startMark), end_(endMark), keep_(keep) {}
  // Takes received bytes in. Take every complete chunk out with next() before adding more.
  void add(const char *data, qsizetype n);
  // The next complete chunk; false when the bytes added hold no more.
  bool next(QByteArray *out);
  // True while bytes of an unfinished chunk wait for their end mark.
  bool partial() const { return current_.size() > 0; }
  // True while the unfinished chunk holds a start mark: a frame on its way.
  bool partialFrame() const { return framed_; }
  // The unfinished chunk as it is, when the line has gone quiet before its end mark.
  QByteArray takePartial();
  void clear();

 private:
  char start_, end_;
  qsizetype keep_;
  QByteArray input_;  // added and not yet cut
  qsizetype at_ = 0;  // how far input_ has been cut
  QByteArray current_;  // the chunk being cut, at most `keep` bytes
  bool framed_ = false;  // current_ holds a start mark
};
