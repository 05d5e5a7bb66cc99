#include "window/HandlerSupport.h"

#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

#include <limits>

SteadyTimer::SteadyTimer(QObject *parent, const QString &name, int interval, bool enabled)
    : QObject(parent), interval_(interval), enabled_(enabled) {
  setObjectName(name);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (OnTimer) guarded(OnTimer);
  });
  restart();
}

void SteadyTimer::restart() {
  if (enabled_ && interval_ > 0)
    timer_.start(interval_);
  else
    timer_.stop();
}

void SteadyTimer::SetInterval(int ms) {
  if (ms == interval_) return;
  interval_ = ms;
  restart();
}

void SteadyTimer::SetEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  restart();
}

int StrToInt(const QString &text) {
  auto fail = [&]() -> int {
    throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text).toStdString());
  };
  int i = 0;
  const int n = text.size();
  while (i < n && text[i] == QLatin1Char(' ')) ++i;
  bool negative = false;
  if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  if (i >= n) return fail();
  long long value = 0;
  for (; i < n; ++i) {
    QChar c = text[i];
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return fail();
    value = value * 10 + (c.unicode() - '0');
    if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return fail();
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) return fail();
  return static_cast<int>(value);
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

void ShowException(const std::exception &e) {
  ShowMessageBox(QString::fromUtf8(e.what()), QString::fromLatin1(kApplicationTitle));
}
