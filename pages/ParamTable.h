// What the two parameter pages share: a row of the parameter table (protocol/ParamRows.h)
// with the design's named handlers and decoder for it (pages/ParamHandlers.h), and how a row
// is drawn. The window's generic row functions (pages/ParamTable.cpp) work from these.
#pragma once

#include <QString>

#include <cstddef>
#include <span>

#include "protocol/ParamRows.h"
#include "window/Routing.h"

class TForm1;

// A parameter row as the window uses it: the table's row, and the named handlers its buttons
// run and the decoder its read's answer is routed to (nullptr where the row has none).
struct ParamRow : params::ParamDef {
  void (TForm1::*read)() = nullptr;
  void (TForm1::*write)() = nullptr;
  Decoder decoder = nullptr;
};

// How a row is drawn: widths in pixels, button captions.
struct ParamRowShape {
  int labelWidth = 126;
  int controlWidth = 40;
  int readWidth = 30, writeWidth = 30;
  QString readText = QStringLiteral("读"), writeText = QStringLiteral("写");
};

namespace params {

// The rows of the two pages, in their table's order, with their named handlers.
std::span<const ParamRow> page1Rows();
std::span<const ParamRow> page2Rows();

// The index of the row with the given chain place, read handler, write handler or decoder in
// a page's rows; -1 when there is none.
int rowIndex(std::span<const ParamRow> rows, int pos);
int rowIndex(std::span<const ParamRow> rows, void (TForm1::*handler)());
int decoderRow(std::span<const ParamRow> rows, Decoder decoder);
// Whether i is an index of rows: a lookup that found nothing leaves its caller doing nothing
// (the tests walk both tables, so none is missing).
inline bool validRow(std::span<const ParamRow> rows, int i) { return i >= 0 && std::size_t(i) < rows.size(); }

}  // namespace params
