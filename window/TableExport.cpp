#include "window/TableExport.h"

#include <QAction>
#include <QDir>
#include <QHeaderView>
#include <QSaveFile>
#include <QTableView>
#include <QTreeView>

#include "window/HandlerSupport.h"
#include "window/Unit1.h"

QList<QStringList> shownTexts(const QAbstractItemView *view) {
  QList<QStringList> rows;
  const QAbstractItemModel *model = view ? view->model() : nullptr;
  if (!model) return rows;
  const auto *table = qobject_cast<const QTableView *>(view);
  const auto *tree = qobject_cast<const QTreeView *>(view);
  const QHeaderView *header = table ? table->horizontalHeader() : tree ? tree->header() : nullptr;
  auto columnShown = [&](int c) {
    return table ? !table->isColumnHidden(c) : tree ? !tree->isColumnHidden(c) : true;
  };
  auto rowShown = [&](int r) {
    return table ? !table->isRowHidden(r) : tree ? !tree->isRowHidden(r, QModelIndex()) : true;
  };
  const int columns = model->columnCount();
  if (header && !header->isHidden()) {
    QStringList titles;
    for (int c = 0; c < columns; ++c)
      if (columnShown(c)) titles << model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    rows << titles;
  }
  for (int r = 0; r < model->rowCount(); ++r) {
    if (!rowShown(r)) continue;
    QStringList row;
    for (int c = 0; c < columns; ++c)
      if (columnShown(c)) row << model->data(model->index(r, c), Qt::DisplayRole).toString();
    rows << row;
  }
  return rows;
}

QByteArray csvText(const QList<QStringList> &rows) {
  QByteArray out("\xEF\xBB\xBF");
  for (const QStringList &row : rows) {
    QStringList fields;
    for (QString field : row) {
      if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
          field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r'))) {
        field.replace(QLatin1String("\""), QLatin1String("\"\""));
        field = QLatin1Char('"') + field + QLatin1Char('"');
      }
      fields << field;
    }
    out += fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
  }
  return out;
}

bool writeWholeFile(const QString &path, const QByteArray &bytes, QString *error) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    if (error) *error = file.errorString();
    return false;
  }
  if (file.write(bytes) != bytes.size()) {
    if (error) *error = file.errorString();
    file.cancelWriting();
    return false;
  }
  if (!file.commit()) {
    if (error) *error = file.errorString();
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- the window's side

void TForm1::exportTable(const QAbstractItemView *view, const QString &suggestedName) {
  const QString path = AskSaveFileName(QStringLiteral("导出CSV"), suggestedName, QStringLiteral("CSV (*.csv)"));
  if (path.isEmpty()) return;  // cancelled
  QString error;
  if (!writeWholeFile(path, csvText(shownTexts(view)), &error))
    ShowMessageBox(QStringLiteral("无法保存 %1：%2").arg(QDir::toNativeSeparators(path), error),
                   QStringLiteral("error"));
}

// "导出CSV…" in the table's context menu.
void TForm1::addExportAction(QAbstractItemView *view, const char *name, const QString &suggestedName) {
  auto *action = new QAction(QStringLiteral("导出CSV…"), view);
  action->setObjectName(QString::fromLatin1(name));
  view->addAction(action);
  view->setContextMenuPolicy(Qt::ActionsContextMenu);
  connect(action, &QAction::triggered, this,
          [this, view, suggestedName] { guarded([&] { exportTable(view, suggestedName); }); });
}
