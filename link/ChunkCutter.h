// Cuts a received byte stream into chunks that each end with an end mark, for a link whose
// reads carry no frame boundaries (a TCP stream may bring part of an answer, or two).
// A chunk ends at its end mark or after `keep` bytes, whichever comes first, so a peer that
// never sends the end mark cannot make it grow: its stream is cut into chunks of that size.
#pragma once

#include <QByteArray>

class ChunkCutter {
 public:
  ChunkCutter(char endMark, qsizetype keep) : end_(endMark), keep_(keep) {}
  // Takes received bytes in. Take every complete chunk out with next() before adding more.
  void add(const char *data, qsizetype n);
  // The next chunk that ends with the end mark; false when the bytes added hold no more.
  bool next(QByteArray *out);
  // True while bytes of an unfinished chunk wait for their end mark.
  bool partial() const { return current_.size() > 0; }
  // The unfinished chunk as it is, when the line has gone quiet before its end mark.
  QByteArray takePartial();
  void clear();

 private:
  char end_;
  qsizetype keep_;
  QByteArray input_;  // added and not yet cut
  qsizetype at_ = 0;  // how far input_ has been cut
  QByteArray current_;  // the chunk being cut, at most `keep` bytes
};
