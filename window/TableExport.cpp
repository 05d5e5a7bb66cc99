#include "window/TableExport.h"

#include <QAction>
#include <QDir>

#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "window/Unit1.h"
#include "window/WholeFile.h"

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

// ---------------------------------------------------------------- the window's side

void TForm1::exportTable(const QTableWidget *table, const QString &suggestedName) {
  const QString path = AskSaveFileName(QStringLiteral("导出CSV"), suggestedName, QStringLiteral("CSV (*.csv)"));
  if (path.isEmpty()) return;  // cancelled
  const QString error = writeWholeFile(path, csvText(shownRows(*table)));
  if (!error.isEmpty())
    ShowMessageBox(QStringLiteral("无法保存 %1：%2").arg(QDir::toNativeSeparators(path), error),
                   QStringLiteral("error"));
}

// "导出CSV…" in the table's context menu.
void TForm1::addExportAction(QTableWidget *table, const char *name, const QString &suggestedName) {
  auto *action = new QAction(QStringLiteral("导出CSV…"), table);
  action->setObjectName(QString::fromLatin1(name));
  table->addAction(action);
  table->setContextMenuPolicy(Qt::ActionsContextMenu);
  connect(action, &QAction::triggered, this,
          [this, table, suggestedName] { guarded([&] { exportTable(table, suggestedName); }); });
}
