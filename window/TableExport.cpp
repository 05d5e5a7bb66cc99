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

void exportFile(const QString &caption, const QString &suggestedName, const QString &filter,
                const std::function<QByteArray(QString *error)> &bytes) {
  const QString path = AskSaveFileName(caption, suggestedName, filter);
  if (path.isEmpty()) return;  // cancelled
  QString error;
  const QByteArray content = bytes(&error);
  if (error.isEmpty()) error = writeWholeFile(path, content);
  if (!error.isEmpty())
    ShowMessageBox(QStringLiteral("无法保存 %1：%2").arg(QDir::toNativeSeparators(path), error),
                   QStringLiteral("error"));
}

// ---------------------------------------------------------------- the window's side

void TForm1::exportTable(const QTableWidget *table, const QString &suggestedName) {
  exportFile(QStringLiteral("导出CSV"), suggestedName, QStringLiteral("CSV (*.csv)"),
             [table](QString *) { return csvText(shownRows(*table)); });
}

QAction *TForm1::addMenuAction(QWidget *owner, const QString &text, const char *name, std::function<void()> what) {
  auto *action = new QAction(text, owner);
  action->setObjectName(QString::fromLatin1(name));
  owner->addAction(action);
  owner->setContextMenuPolicy(Qt::ActionsContextMenu);
  connect(action, &QAction::triggered, this, [what = std::move(what)] { guarded(what); });
  return action;
}

// "导出CSV…" in the table's context menu.
void TForm1::addExportAction(QTableWidget *table, const char *name, const QString &suggestedName) {
  addMenuAction(table, QStringLiteral("导出CSV…"), name, [this, table, suggestedName] { exportTable(table, suggestedName); });
}
