// Parameter files in the window: "保存参数文件…", "与参数文件比较…" and "写入参数文件…" below
// page 1's rows. Each reads every parameter of the file (or of both pages) through the
// exchange as a chain of its own (progress in panel 0, Esc stops it), one request at a time,
// then saves, compares or writes. The file, its values and the comparison are the pure
// functions of protocol/ParamFile.h, shared with powerhost-cli.
#include <QDateTime>
#include <QDialog>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "pages/ClockZone.h"
#include "pages/ParamFileActions.h"
#include "protocol/Frame.h"
#include "protocol/ParamFile.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "window/Unit1.h"
#include "window/WholeFile.h"

using paramfile::Entry;
using paramfile::Outcome;
using params::ParamDef;


namespace {

const QString kTitle = QStringLiteral("参数文件");

QString nameOf(const ParamDef &row) { return params::labelName(row.label); }
QString unitOf(const ParamDef &row) { return QString::fromUtf8(row.unit); }

}  // namespace

void TForm1::buildParamFileActions() {
  struct Button {
    const char *name;
    QString caption;
    Handler handler;
  };
  const Button buttons[] = {{"ButtonSaveParamFile", QStringLiteral("保存参数文件…"), &TForm1::saveParamFile},
                            {"ButtonCompareParamFile", QStringLiteral("与参数文件比较…"), &TForm1::compareParamFile},
                            {"ButtonRestoreParamFile", QStringLiteral("写入参数文件…"), &TForm1::restoreParamFile}};
  int left = 6;
  for (const Button &b : buttons) {
    onButton(placeControl<QPushButton>(TabSheet1, b.name, b.caption, left, 528, 112, 23), b.handler);
    left += 116;
  }
}

// ---------------------------------------------------------------- the three actions

void TForm1::saveParamFile() {
  const QString path = AskSaveFileName(QStringLiteral("保存参数文件"), QStringLiteral("参数.json"), QStringLiteral("JSON (*.json)"));
  if (path.isEmpty()) return;
  auto run = std::make_unique<ParamFileRun>();
  run->kind = ParamFileRun::Kind::Save;
  run->path = path;
  run->reads = paramfile::fileParams();
  startParamFileRun(std::move(run));
}

// The file is read and checked before anything is sent: a file that cannot be used says why.
std::unique_ptr<TForm1::ParamFileRun> TForm1::openParamFile(const QString &caption) {
  const QString path = AskOpenFileName(caption, QStringLiteral("JSON (*.json)"));
  if (path.isEmpty()) return nullptr;
  QFile f(path);
  paramfile::Parsed parsed;
  QString error;
  if (f.open(QIODevice::ReadOnly)) {
    parsed = paramfile::parseFile(f.readAll());
    error = parsed.error;
  } else {
    error = f.errorString();
  }
  if (!parsed.file) {
    ShowMessageBox(QStringLiteral("无法使用参数文件 %1：%2").arg(path, error), QStringLiteral("error"));
    return nullptr;
  }
  if (!parsed.unknownKeys.isEmpty())
    log(QStringLiteral("参数文件中未知的参数（已忽略）：") + parsed.unknownKeys.join(QStringLiteral(", ")));
  auto run = std::make_unique<ParamFileRun>();
  run->path = path;
  run->file = *parsed.file;
  for (const Entry &e : run->file.values) run->reads.push_back(e.row);
  return run;
}

void TForm1::compareParamFile() {
  auto run = openParamFile(QStringLiteral("与参数文件比较"));
  if (!run) return;
  run->kind = ParamFileRun::Kind::Compare;
  startParamFileRun(std::move(run));
}

void TForm1::restoreParamFile() {
  auto run = openParamFile(QStringLiteral("写入参数文件"));
  if (!run) return;
  run->kind = ParamFileRun::Kind::Restore;
  startParamFileRun(std::move(run));
}

// ---------------------------------------------------------------- the chain

void TForm1::startParamFileRun(std::unique_ptr<ParamFileRun> run) {
  if (!linkOpen) {
    chainStopped(ChainStop::NoLink);
    return;
  }
  exchange_->dropWaiting(ParamFileChain);
  if (cancelledChain_ == ParamFileChain) cancelledChain_ = OperatorRequest;
  paramFileRun_ = std::move(run);
  paramFileNext();
}

// The request of the run's next step: the next read, the next write or its read-back.
void TForm1::paramFileNext() {
  ParamFileRun &run = *paramFileRun_;
  const ParamDef *row = nullptr;
  std::vector<uint8_t> data;
  proto::Command command = proto::Command::None;
  int step = 0;
  if (run.readsSent < run.reads.size()) {
    row = run.reads[run.readsSent++];
    command = row->readCommand;
    data = paramfile::readData(*row);
    step = int(run.readsSent);
  } else if (run.writing < run.writes.size()) {
    const Entry &e = run.writes[run.writing];
    row = e.row;
    step = int(run.reads.size()) + 2 * int(run.writing) + (run.readingBack ? 2 : 1);
    if (run.readingBack) {
      command = row->readCommand;
      data = paramfile::readData(*row);
    } else {
      command = row->writeCommand;
      data = *paramfile::writeData(*row, e.value);
    }
  } else {
    return paramFileDone();
  }
  bool ok = false;
  const int address = Edit1->text().trimmed().toInt(&ok);
  if (!ok || address < 0 || address > 255) {
    ShowMessageBox(QStringLiteral("地址不对：%1").arg(Edit1->text()), QStringLiteral("error"));
    paramFileRun_.reset();
    return;
  }
  const proto::CommandDef &def = proto::commandDef(command);
  chainStep(Chain::ParamFile, step, run.steps());
  Exchange::Request r;
  r.frame = proto::encodeFrame(uint8_t(address), def.cid1, def.cid2, data);
  r.cid1 = def.cid1;
  r.cid2 = def.cid2;
  r.tag = ParamFileChain;
  logFrame(r.frame);
  exchange_->submit(std::move(r));
}

// An intact answer to the run's request: the payload holds it.
void TForm1::paramFileAnswer() {
  if (!paramFileRun_ || cancelledChain_ == ParamFileChain) return;
  ParamFileRun &run = *paramFileRun_;
  const std::span<const uint8_t> data(payload + 4, std::size_t(std::max(0, dataAvailable())));
  if (run.writing < run.writes.size() && run.readsSent == run.reads.size()) {
    const Entry &e = run.writes[run.writing];
    if (returnCode() != 0) {
      run.results.push_back({e, Outcome::Refused});
    } else if (!run.readingBack && e.row->reads()) {
      run.readingBack = true;
      return paramFileNext();
    } else if (!run.readingBack) {
      run.results.push_back({e, Outcome::Confirmed});
    } else {
      const std::optional<paramfile::Value> back = paramfile::valueOfAnswer(*e.row, data);
      run.results.push_back({e, back && paramfile::sameValue(*e.row, e.value, *back) ? Outcome::Confirmed : Outcome::Mismatch});
    }
    ++run.writing;
    run.readingBack = false;
    return paramFileNext();
  }
  const ParamDef *row = run.reads[run.readsSent - 1];
  QString why;
  const std::optional<paramfile::Value> v =
      returnCode() == 0 ? paramfile::valueOfAnswer(*row, data, &why) : std::nullopt;
  if (v) {
    run.got.push_back({row, *v});
  } else {
    reportReadError(false);
    run.unread << nameOf(*row);
  }
  if (run.readsSent == run.reads.size()) return paramFileRead();
  paramFileNext();
}

// Every parameter has been read: save, compare, or ask and write.
void TForm1::paramFileRead() {
  ParamFileRun &run = *paramFileRun_;
  switch (run.kind) {
    case ParamFileRun::Kind::Save: {
      paramfile::File file;
      // as the command line names it: tcp://HOST:PORT?address=N, serial:DEVICE?baud=B&address=N
      const qsizetype space = linkWhere_.lastIndexOf(QLatin1Char(' '));  // "DEVICE BAUD"
      file.controller = (serialLink ? QStringLiteral("serial:%1?baud=%2&").arg(linkWhere_.left(space), linkWhere_.mid(space + 1))
                                    : QStringLiteral("tcp://%1?").arg(linkWhere_)) +
                        QStringLiteral("address=") + Edit1->text().trimmed();
      // in the window's one clock, as every other time it shows or saves
      file.readAt = clockzone::at(QDateTime::currentMSecsSinceEpoch()).toString(Qt::ISODate);
      file.values = run.got;
      const QString path = run.path;
      const int count = int(file.values.size());
      const QStringList unread = run.unread;
      paramFileRun_.reset();
      writeWholeFileLater(
          path,
          [bytes = paramfile::fileText(file)](QIODevice &out) {
            out.write(bytes);
            return QString();
          },
          this, [this, path, count, unread](const QString &error) {
            if (!error.isEmpty())
              return ShowMessageBox(QStringLiteral("无法保存 %1：%2").arg(path, error), QStringLiteral("error"));
            setPanelText(1, QStringLiteral("参数文件已保存：%1 个参数").arg(count));
            if (!unread.isEmpty())
              ShowMessageBox(QStringLiteral("以下参数未能读取，未存入文件：\n") + unread.join(QLatin1Char('\n')), kTitle);
          });
      return;
    }
    case ParamFileRun::Kind::Compare: {
      const auto rows = paramfile::compare(run.file, run.got);
      QList<QStringList> table;
      for (const paramfile::Comparison &c : rows)
        table.append({nameOf(*c.row), paramfile::valueText(c.file),
                      c.controller ? paramfile::valueText(*c.controller) : QStringLiteral("未读到"), unitOf(*c.row),
                      c.differs ? QStringLiteral("不同") : QString()});
      showParamFileReport(QStringLiteral("与参数文件比较：%1 处不同").arg(paramfile::differenceCount(rows)),
                          {QStringLiteral("参数"), QStringLiteral("文件"), QStringLiteral("控制器"), QStringLiteral("单位"),
                           QStringLiteral("比较")},
                          table);
      paramFileRun_.reset();
      return;
    }
    case ParamFileRun::Kind::Restore: break;
  }
  // Restore: the differences, asked once (No the default); a write that starts equipment is
  // asked for on its own.
  QStringList lines;
  std::vector<Entry> writes;
  for (const paramfile::Comparison &c : paramfile::compare(run.file, run.got)) {
    if (!c.differs) continue;
    if (!c.row->writes()) {
      run.results.push_back({{c.row, c.file}, Outcome::ReadOnly});
      continue;
    }
    writes.push_back({c.row, c.file});
    lines << QStringLiteral("%1：%2 → %3 %4")
                 .arg(nameOf(*c.row), c.controller ? paramfile::valueText(*c.controller) : QStringLiteral("?"),
                      paramfile::valueText(c.file), unitOf(*c.row))
                 .trimmed();
  }
  if (writes.empty()) {
    setPanelText(1, QStringLiteral("控制器与参数文件一致，无需写入"));
    if (!run.results.empty()) paramFileDone();
    paramFileRun_.reset();
    return;
  }
  if (!AskYesNo(QStringLiteral("将写入以下 %1 个参数：\n").arg(writes.size()) + lines.join(QLatin1Char('\n')) +
                QStringLiteral("\n确定写入？"))) {
    paramFileRun_.reset();
    return;
  }
  for (const Entry &e : writes) {
    if (paramfile::switchesOn(*e.row, *paramfile::rawOf(*e.row, e.value)) &&
        !AskYesNo(QString::fromUtf8(e.row->confirmOn))) {
      run.results.push_back({e, Outcome::NeedsOwnConfirmation});
      continue;
    }
    run.writes.push_back(e);
  }
  paramFileNext();
}

// The run is over (written to the end, or stopped): a restore reports every parameter.
void TForm1::paramFileDone() {
  if (!paramFileRun_) return;
  ParamFileRun &run = *paramFileRun_;
  if (run.kind == ParamFileRun::Kind::Restore && !run.results.empty()) {
    QList<QStringList> table;
    int confirmed = 0;
    for (const auto &[e, outcome] : run.results) {
      confirmed += outcome == Outcome::Confirmed ? 1 : 0;
      table.append({nameOf(*e.row), paramfile::valueText(e.value), unitOf(*e.row), paramfile::outcomeTextChinese(outcome)});
    }
    showParamFileReport(QStringLiteral("写入参数文件：%1 个已写入并确认，共 %2 个").arg(confirmed).arg(run.results.size()),
                        {QStringLiteral("参数"), QStringLiteral("文件"), QStringLiteral("单位"), QStringLiteral("结果")}, table);
  }
  paramFileRun_.reset();
}

// The chain cannot go on (no answer, a damaged answer, Esc, the link closed). A restore
// reports what it did and what it did not send.
void TForm1::paramFileStopped(ChainStop) {
  if (!paramFileRun_) return;
  ParamFileRun &run = *paramFileRun_;
  exchange_->dropWaiting(ParamFileChain);
  if (run.kind == ParamFileRun::Kind::Restore && run.readsSent == run.reads.size() && run.writing < run.writes.size()) {
    // the write (or its read-back) on the line went unanswered, whatever stopped the run
    run.results.push_back({run.writes[run.writing], Outcome::NoAnswer});
    for (std::size_t i = run.writing + 1; i < run.writes.size(); ++i) run.results.push_back({run.writes[i], Outcome::NotSent});
    run.writing = run.writes.size();
    paramFileDone();
    return;
  }
  paramFileRun_.reset();
}

void TForm1::showParamFileReport(const QString &title, const QStringList &headings, const QList<QStringList> &rows) {
  delete findChild<QDialog *>(QStringLiteral("ParamFileReport"));
  auto *dialog = new QDialog(this);
  dialog->setObjectName(QStringLiteral("ParamFileReport"));
  dialog->setWindowTitle(title);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  auto *table = new QTableWidget(int(rows.size()), int(headings.size()), dialog);
  table->setObjectName(QStringLiteral("ParamFileReportTable"));
  table->setHorizontalHeaderLabels(headings);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (int r = 0; r < rows.size(); ++r)
    for (int c = 0; c < rows[r].size(); ++c) {
      auto *item = new QTableWidgetItem(rows[r][c]);
      // a difference or a failed write stands out
      const QString last = rows[r].last();
      if (last == QStringLiteral("不同") || (headings.last() == QStringLiteral("结果") &&
                                             last != paramfile::outcomeTextChinese(Outcome::Confirmed)))
        item->setBackground(QColor(255, 220, 220));
      table->setItem(r, c, item);
    }
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  auto *layout = new QVBoxLayout(dialog);
  layout->addWidget(table);
  dialog->resize(560, 480);
  dialog->show();
}
