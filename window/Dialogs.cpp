#include "window/Dialogs.h"

#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

static MessageBoxHook &hook() {
  static MessageBoxHook h;
  return h;
}

void SetMessageBoxHook(MessageBoxHook h) { hook() = std::move(h); }

void ShowMessageBox(const QString &text, const QString &caption) {
  if (hook()) {
    hook()(text, caption);
    return;
  }
  // No owner and not modal: the window goes on working while the box waits for OK.
  QPointer<QMessageBox> box = new QMessageBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  QEventLoop loop;
  QObject::connect(box, &QMessageBox::finished, &loop, &QEventLoop::quit);
  QObject::connect(box, &QObject::destroyed, &loop, &QEventLoop::quit);
  box->show();
  loop.exec();
}

static YesNoHook &yesNoHook() {
  static YesNoHook h;
  return h;
}

void SetYesNoHook(YesNoHook h) { yesNoHook() = std::move(h); }

bool AskYesNo(const QString &question) {
  if (yesNoHook()) return yesNoHook()(question);
  // Modal: the command waits for the answer, and nothing else is clicked meanwhile.
  QMessageBox box(QMessageBox::Question, QString::fromUtf8(kConfirmCaption), question,
                  QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

static SaveFileNameHook &saveHook() {
  static SaveFileNameHook h;
  return h;
}

void SetSaveFileNameHook(SaveFileNameHook h) { saveHook() = std::move(h); }

QString AskSaveFileName(const QString &caption, const QString &suggestedName, const QString &filter) {
  if (saveHook()) return saveHook()(caption, suggestedName);
  return QFileDialog::getSaveFileName(nullptr, caption, QDir::home().filePath(suggestedName), filter);
}
