// Small widgets with the behaviour the pages expect of them.
#pragma once

#include <QTableWidget>

// A grid of texts addressed as Cells(column, row); the first FixedRows rows are headings.
class TStringGrid : public QTableWidget {
  Q_OBJECT
 public:
  TStringGrid(QWidget *parent, const QString &name, int cols, int rows, int fixedRows, int rowHeight);
  QString Cells(int col, int row) const;
  void SetCells(int col, int row, const QString &text);
  void SetColWidths(const std::vector<int> &widths);

 private:
  int fixedRows_;
};
