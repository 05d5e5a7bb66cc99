// Small widgets with the behaviour the pages expect of them.
#pragma once

#include <QColor>
#include <QList>
#include <QStringList>
#include <QTableWidget>

// A new control of type W on parent, named and placed at (left, top, width, height).
template <class W>
W *placeControl(QWidget *parent, const char *name, int left, int top, int width, int height) {
  auto *w = new W(parent);
  w->setObjectName(QString::fromLatin1(name));
  w->setGeometry(left, top, width, height);
  return w;
}

// The same, with its caption or text.
template <class W>
W *placeControl(QWidget *parent, const char *name, const QString &text, int left, int top, int width, int height) {
  W *w = placeControl<W>(parent, name, left, top, width, height);
  w->setText(text);
  return w;
}

// A grid of texts addressed as Cells(column, row); the first FixedRows rows are headings.
class TStringGrid : public QTableWidget {
  Q_OBJECT
 public:
  TStringGrid(QWidget *parent, const QString &name, int cols, int rows, int fixedRows, int rowHeight);
  QString Cells(int col, int row) const;
  void SetCells(int col, int row, const QString &text);
  void SetColWidths(const std::vector<int> &widths);
  // A row whose texts are not current is drawn in grey.
  void SetRowGreyed(int row, bool greyed);
  // One cell's text colour (and weight); nothing is repainted when it has them already.
  void SetCellForeground(int col, int row, const QColor &colour, bool bold = false);

 private:
  int fixedRows_;
};

// A filled round lamp in its brush colour (the alarm lamps: red for an alarm, bright green
// otherwise). Setting the colour it already has does not repaint it.
class TShape : public QWidget {
  Q_OBJECT
 public:
  TShape(QWidget *parent, const QString &name, const QColor &brush);
  QColor BrushColor() const { return brush_; }
  void SetBrushColor(const QColor &brush);

 protected:
  void paintEvent(QPaintEvent *) override;

 private:
  QColor brush_;
};

// A two-column key/value list under a title row: rows are appended at the end, and the same
// key may appear any number of times.
class TValueListEditor : public QTableWidget {
  Q_OBJECT
 public:
  TValueListEditor(QWidget *parent, const QString &name, const QString &keyTitle, const QString &valueTitle);
  void InsertRow(const QString &key, const QString &value);
  void Clear();  // every row goes, the titles stay
  QString Keys(int row) const;
  QString Values(int row) const;
};

// What a grid or list shows, row by row, titles first: the text a table export writes.
QList<QStringList> shownRows(const QTableWidget &table);
