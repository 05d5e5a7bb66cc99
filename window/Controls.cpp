#include "window/Controls.h"

#include <QHeaderView>
#include <QPainter>

#include "window/HandlerSupport.h"

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
  if (QTableWidgetItem *it = item(row, col)) showText(it, text);
}

void TStringGrid::SetRowGreyed(int row, bool greyed) {
  if (row < fixedRows_ || row >= rowCount()) return;
  const QBrush brush = greyed ? QBrush(QColor(150, 150, 150)) : palette().text();
  for (int c = 0; c < columnCount(); ++c)
    if (QTableWidgetItem *it = item(row, c); it && it->foreground() != brush) it->setForeground(brush);
}

void TStringGrid::SetCellForeground(int col, int row, const QColor &colour, bool bold) {
  QTableWidgetItem *it = row >= 0 && row < rowCount() && col >= 0 && col < columnCount() ? item(row, col) : nullptr;
  if (!it) return;
  if (it->foreground().color() != colour || it->foreground().style() == Qt::NoBrush) it->setForeground(colour);
  if (it->font().bold() != bold) {
    QFont f = it->font();
    f.setBold(bold);
    it->setFont(f);
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

TValueListEditor::TValueListEditor(QWidget *parent, const QString &name, const QString &keyTitle,
                                   const QString &valueTitle)
    : QTableWidget(0, 2, parent) {
  setObjectName(name);
  setHorizontalHeaderLabels({keyTitle, valueTitle});
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(false);
  verticalHeader()->hide();
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
}

void TValueListEditor::InsertRow(const QString &key, const QString &value) {
  const int row = rowCount();
  insertRow(row);
  setItem(row, 0, new QTableWidgetItem(key));
  setItem(row, 1, new QTableWidgetItem(value));
}

void TValueListEditor::Clear() { setRowCount(0); }

QString TValueListEditor::Keys(int row) const {
  const QTableWidgetItem *it = item(row, 0);
  return it ? it->text() : QString();
}

QString TValueListEditor::Values(int row) const {
  const QTableWidgetItem *it = item(row, 1);
  return it ? it->text() : QString();
}

QList<QStringList> shownRows(const QTableWidget &table) {
  QList<QStringList> rows;
  if (!table.horizontalHeader()->isHidden()) {
    QStringList titles;
    for (int c = 0; c < table.columnCount(); ++c) {
      const QTableWidgetItem *h = table.horizontalHeaderItem(c);
      titles << (h ? h->text() : QString());
    }
    rows << titles;
  }
  for (int r = 0; r < table.rowCount(); ++r) {
    QStringList cells;
    for (int c = 0; c < table.columnCount(); ++c) {
      const QTableWidgetItem *it = table.item(r, c);
      cells << (it ? it->text() : QString());
    }
    rows << cells;
  }
  return rows;
}
