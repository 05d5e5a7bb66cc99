#include "window/Dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace {

QPointer<QWidget> &owner() {
  static QPointer<QWidget> w;
  return w;
}
bool gClosed = false;  // the owner has closed

// No box is shown for a window that has closed.
bool ownerClosed() { return gClosed && owner(); }

}  // namespace

void SetDialogOwner(QWidget *window) {
  owner() = window;
  gClosed = false;
}

void CloseDialogs() {
  gClosed = true;
  QWidget *window = owner();
  if (!window) return;
  // the boxes and dialogs are the owner's children; a question's or a file dialog's wait
  // ends as its dialog closes
  for (QDialog *d : window->findChildren<QDialog *>(Qt::FindDirectChildrenOnly))
    if (d->isVisible()) d->reject();
}

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
  if (ownerClosed()) return;
  // Not modal: the window goes on working while the box waits for OK. Its parent keeps it in
  // front of the window and takes it along when the window goes.
  auto *box = new QMessageBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner());
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  box->show();
}

static YesNoHook &yesNoHook() {
  static YesNoHook h;
  return h;
}

void SetYesNoHook(YesNoHook h) { yesNoHook() = std::move(h); }

bool AskYesNo(const QString &question) {
  if (yesNoHook()) return yesNoHook()(question);
  if (ownerClosed()) return false;
  // Modal: the command waits for the answer, and nothing else is clicked meanwhile.
  QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Question, QString::fromUtf8(kConfirmCaption), question,
                                              QMessageBox::Yes | QMessageBox::No, owner());
  box->setDefaultButton(QMessageBox::No);
  box->setEscapeButton(QMessageBox::No);
  const int answer = box->exec();
  delete box;  // the window closing may have taken it already
  return answer == QMessageBox::Yes;
}

static SaveFileNameHook &saveHook() {
  static SaveFileNameHook h;
  return h;
}

void SetSaveFileNameHook(SaveFileNameHook h) { saveHook() = std::move(h); }

QString AskSaveFileName(const QString &caption, const QString &suggestedName, const QString &filter) {
  if (saveHook()) return saveHook()(caption, suggestedName);
  if (ownerClosed()) return QString();
  return QFileDialog::getSaveFileName(owner(), caption, QDir::home().filePath(suggestedName), filter);
}

static OpenFileNameHook &openHook() {
  static OpenFileNameHook h;
  return h;
}

void SetOpenFileNameHook(OpenFileNameHook h) { openHook() = std::move(h); }

QString AskOpenFileName(const QString &caption, const QString &filter) {
  if (openHook()) return openHook()(caption);
  if (ownerClosed()) return QString();
  return QFileDialog::getOpenFileName(owner(), caption, QDir::homePath(), filter);
}
