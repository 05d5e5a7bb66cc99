// The 30 reads of the page-2 refresh, in the order they go out: the read button, CID2 (CID1
// is 0x42 throughout) and the contact a dry-contact read names.
#pragma once

#include <QByteArray>

namespace testsupport {

struct ChainRead {
  const char *button;
  int cid2;
  int contact = 0;
  QByteArray data() const { return contact ? QByteArray(1, char(contact)) : QByteArray(); }
};

inline const ChainRead kPage2Chain[30] = {
    {"Button42", 0x88, 1}, {"Button46", 0x88, 2}, {"Button50", 0x88, 3}, {"Button54", 0x88, 4},
    {"Button45", 0x86, 1}, {"Button48", 0x86, 2}, {"Button52", 0x86, 3}, {"Button56", 0x86, 4},
    {"Button124", 0x5B},   {"Button126", 0x5D},   {"Button128", 0x5F},   {"Button130", 0x51},
    {"Button132", 0x53},   {"Button134", 0x55},   {"Button19", 0x92},    {"Button21", 0x94},
    {"Button27", 0x45},    {"Button142", 0x2B},   {"Button144", 0x2D},   {"Button62", 0x71},
    {"Button76", 0x73},    {"Button78", 0x75},    {"Button80", 0x77},    {"Button82", 0x19},
    {"Button84", 0x1B},    {"Button86", 0x1D},    {"Button90", 0x1F},    {"Button92", 0x7F},
    {"Button106", 0x7D},   {"Button116", 0x8A}};

}  // namespace testsupport
