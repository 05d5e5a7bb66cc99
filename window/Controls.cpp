#include "window/Controls.h"

#include <QHeaderView>
#include <QPainter>

TStringGrid::TStringGrid(QWidget *parent, const QString &name, int cols, int rows, int fixedRows, int rowHeight)
    : QTableWidget(rows, cols, parent), fixedRows_(fixedRows) {
  setObjectName(name);
  horizontalHeader()->hide();
  verticalHeader()->hide();
  // the minimum first: a default below the style's minimum would be raised to it
  verticalHeader()->setMinimumSectionSize(rowHeight);
  verticalHeader()->setDefaultSectionSize(rowHeight);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  for (int r = 0; r < rows; ++r) setRowHeight(r, rowHeight);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      auto *item = new QTableWidgetItem;
      if (r < fixedRows_) item->setBackground(palette().button());
      setItem(r, c, item);
    }
}

QString TStringGrid::Cells(int col, int row) const {
  const QTableWidgetItem *it = item(row, col);
  return it ? it->text() : QString();
}

void TStringGrid::SetCells(int col, int row, const QString &text) {
  if (row < 0 || row >= rowCount() || col < 0 || col >= columnCount()) return;
  if (QTableWidgetItem *it = item(row, col)) {
    if (it->text() != text) it->setText(text);
  }
}

void TStringGrid::SetColWidths(const std::vector<int> &widths) {
  for (int c = 0; c < static_cast<int>(widths.size()) && c < columnCount(); ++c) setColumnWidth(c, widths[c]);
}

TShape::TShape(QWidget *parent, const QString &name, const QColor &brush) : QWidget(parent), brush_(brush) {
  setObjectName(name);
}

void TShape::SetBrushColor(const QColor &brush) {
  if (brush == brush_) return;
  brush_ = brush;
  update();
}

void TShape::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(brush_);
  p.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
