// A parameter file's run in the window (pages/ParamFileActions.cpp): what it reads, what it
// got, and what it writes. The window owns the one run under way.
#pragma once

#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

#include "protocol/ParamFile.h"
#include "window/Unit1.h"

struct TForm1::ParamFileRun {
  enum class Kind { Save, Compare, Restore } kind = Kind::Save;
  QString path;
  paramfile::File file;                // Compare, Restore: what the file holds
  std::vector<const params::ParamDef *> reads;  // read in this order
  std::size_t readsSent = 0;
  std::vector<paramfile::Entry> got;               // the controller's values
  QStringList unread;                   // parameters the controller refused or could not show
  // writing (Restore)
  std::vector<paramfile::Entry> writes;
  std::size_t writing = 0;
  bool readingBack = false;
  std::vector<std::pair<paramfile::Entry, paramfile::Outcome>> results;
  int steps() const { return int(reads.size() + 2 * writes.size()); }
};
