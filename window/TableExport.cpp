#include "window/TableExport.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>

#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "window/Unit1.h"
#include "window/WholeFile.h"

void exportFile(const QString &caption, const QString &suggestedName, const QString &filter,
                const std::function<FileProducer(QString *error)> &snapshot) {
  const QString path = AskSaveFileName(caption, suggestedName, filter);
  if (path.isEmpty()) return;  // cancelled
  auto failed = [path](const QString &error) {
    if (!error.isEmpty())
      ShowMessageBox(QStringLiteral("无法保存 %1：%2").arg(QDir::toNativeSeparators(path), error),
                     QStringLiteral("error"));
  };
  QString error;
  FileProducer produce = snapshot(&error);
  if (!error.isEmpty() || !produce) return failed(error);
  writeWholeFileLater(path, std::move(produce), QCoreApplication::instance(), failed);
}

// ---------------------------------------------------------------- the window's side

void TForm1::exportTable(const QTableWidget *table, const QString &suggestedName) {
  exportFile(QStringLiteral("导出CSV"), suggestedName, QStringLiteral("CSV (*.csv)"),
             [table](QString *) -> FileProducer {
               return [bytes = csvText(shownRows(*table))](QIODevice &out) {
                 out.write(bytes);
                 return QString();
               };
             });
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
