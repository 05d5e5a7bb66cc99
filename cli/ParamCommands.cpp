// get, set, backup, diff and restore: the parameters by their keys (protocol/ParamFile.h),
// read and written through the session's exchange. Names, values and files are checked
// before the link is opened, so bad usage sends nothing.
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonArray>
#include <QSaveFile>

#include <cstdio>
#include <unistd.h>

#include "cli/Commands.h"
#include "protocol/ParamFile.h"

namespace cli {

namespace {

using paramfile::Entry;
using paramfile::Outcome;
using paramfile::Value;
using params::ParamDef;

QString keyOf(const ParamDef &row) { return QString::fromLatin1(row.key); }
QString unitOf(const ParamDef &row) { return QString::fromUtf8(row.unit); }

bool openOrSay(Session &session) {
  QString why;
  if (session.open(&why)) return true;
  say(why);
  return false;
}

// Reads rows in order. A refused or unreadable parameter is reported and left out; when the
// controller does not answer the read-out stops there (the exit status says which).
int readRows(Session &session, const std::vector<const ParamDef *> &rows, std::vector<Entry> &got) {
  int exit = kDone;
  for (const ParamDef *row : rows) {
    const Reply r = session.ask(row->readCommand, paramfile::readData(*row));
    if (!r.ok()) {
      const int e = failed(r, keyOf(*row));
      if (e == kNoAnswer) return kNoAnswer;
      exit = kRefused;
      continue;
    }
    QString why;
    const std::optional<Value> v = paramfile::valueOfAnswer(*row, r.data, &why);
    if (!v) {
      say(keyOf(*row) + QStringLiteral(": ") + why);
      exit = kRefused;
      continue;
    }
    got.push_back({row, *v});
  }
  return exit;
}

// One write and its read-back.
Outcome writeAndConfirm(Session &session, const ParamDef &row, const Value &value) {
  const std::optional<std::vector<uint8_t>> data = paramfile::writeData(row, value);
  if (!data) return Outcome::NotSent;  // checked before: cannot happen
  const Reply w = session.ask(row.writeCommand, *data);
  if (w.outcome == Reply::Outcome::Refused) return Outcome::Refused;
  if (!w.ok()) return Outcome::NoAnswer;
  if (!row.reads()) return Outcome::Confirmed;  // write-only: the acknowledgement is all there is
  const Reply r = session.ask(row.readCommand, paramfile::readData(row));
  if (r.outcome == Reply::Outcome::Refused) return Outcome::Refused;
  if (!r.ok()) return Outcome::NoAnswer;
  const std::optional<Value> back = paramfile::valueOfAnswer(row, r.data);
  return back && paramfile::sameValue(row, value, *back) ? Outcome::Confirmed : Outcome::Mismatch;
}

int exitOf(const std::vector<Outcome> &outcomes) {
  int exit = kDone;
  for (Outcome o : outcomes) {
    if (o == Outcome::NoAnswer) return kNoAnswer;
    if (o != Outcome::Confirmed) exit = kRefused;
  }
  return exit;
}

// The writes, one line each on standard output: "float_voltage 53.5: written and confirmed".
int writeAll(Session &session, const std::vector<Entry> &writes) {
  std::vector<Outcome> outcomes;
  bool silent = false;
  for (const Entry &e : writes) {
    const Outcome o = silent ? Outcome::NotSent : writeAndConfirm(session, *e.row, e.value);
    if (o == Outcome::NoAnswer) silent = true;  // the rest is not sent to a controller that stopped answering
    outcomes.push_back(o);
    out(QStringLiteral("%1 %2: %3\n").arg(keyOf(*e.row), paramfile::valueText(e.value), paramfile::outcomeText(o)));
  }
  return exitOf(outcomes);
}

std::optional<paramfile::File> readFileOrSay(const std::string &path) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) {
    say(QStringLiteral("%1: %2").arg(f.fileName(), f.errorString()));
    return std::nullopt;
  }
  const paramfile::Parsed p = paramfile::parseFile(f.readAll());
  if (!p.file) {
    say(QStringLiteral("%1: %2; nothing was sent").arg(f.fileName(), p.error));
    return std::nullopt;
  }
  for (const QString &key : p.unknownKeys) say(QStringLiteral("%1: unknown parameter \"%2\" ignored").arg(f.fileName(), key));
  return p.file;
}

std::vector<const ParamDef *> rowsOf(const paramfile::File &file) {
  std::vector<const ParamDef *> rows;
  for (const Entry &e : file.values) rows.push_back(e.row);
  return rows;
}

bool askAtTerminal(const QString &question) {
  if (!isatty(STDIN_FILENO)) return false;
  std::fprintf(stderr, "%s [y/N] ", question.toUtf8().constData());
  std::fflush(stderr);
  char line[16] = {};
  if (!std::fgets(line, sizeof line, stdin)) return false;
  return line[0] == 'y' || line[0] == 'Y';
}

int runGet(Session &session, const Options &options) {
  std::vector<const ParamDef *> rows;
  for (const std::string &name : options.arguments) {
    const ParamDef *row = paramfile::findKey(QString::fromStdString(name));
    if (!row || !row->reads()) {
      say(row ? QStringLiteral("%1 is write-only").arg(QString::fromStdString(name))
              : QStringLiteral("unknown parameter \"%1\" (powerhost-cli URL get lists them)").arg(QString::fromStdString(name)));
      return kUsage;
    }
    rows.push_back(row);
  }
  if (rows.empty()) rows = paramfile::fileParams();
  if (!openOrSay(session)) return kNoAnswer;
  std::vector<Entry> got;
  const int exit = readRows(session, rows, got);
  if (options.json) {
    QJsonObject o;
    for (const Entry &e : got) o[keyOf(*e.row)] = paramfile::toJson(e.value);
    out(QJsonDocument(o).toJson(QJsonDocument::Indented));
  } else {
    QString text;
    for (const Entry &e : got)
      text += QStringLiteral("%1\t%2\t%3\n").arg(keyOf(*e.row), paramfile::valueText(e.value), unitOf(*e.row));
    out(text);
  }
  return exit;
}

int runSet(Session &session, const Options &options) {
  std::vector<Entry> writes;
  for (const std::string &arg : options.arguments) {
    const QString pair = QString::fromStdString(arg);
    const qsizetype eq = pair.indexOf(QLatin1Char('='));
    const ParamDef *row = eq > 0 ? paramfile::findKey(pair.left(eq)) : nullptr;
    if (!row) {
      say(eq > 0 ? QStringLiteral("unknown parameter \"%1\"").arg(pair.left(eq))
                 : QStringLiteral("\"%1\" is not NAME=VALUE").arg(pair));
      return kUsage;
    }
    if (!row->writes() || paramfile::isClock(*row)) {
      say(QStringLiteral("%1 cannot be written%2").arg(pair.left(eq), paramfile::isClock(*row) ? QStringLiteral(" by value") : QString()));
      return kUsage;
    }
    QString why;
    const std::optional<Value> v = paramfile::valueFromText(*row, pair.mid(eq + 1), &why);
    if (!v) {
      say(QStringLiteral("%1: %2; nothing was sent").arg(pair.left(eq), why));
      return kUsage;
    }
    if (paramfile::switchesOn(*row, *paramfile::rawOf(*row, *v)) && !options.yes) {
      say(QStringLiteral("%1=%2 starts %3: add --yes to confirm; nothing was sent")
              .arg(pair.left(eq), pair.mid(eq + 1),
                   row->writeCommand == proto::Command::BatteryTestWrite ? QStringLiteral("a battery test")
                                                                         : QStringLiteral("an equalize charge")));
      return kUsage;
    }
    writes.push_back({row, *v});
  }
  if (!openOrSay(session)) return kNoAnswer;
  return writeAll(session, writes);
}

int runBackup(Session &session, const Options &options) {
  const QString path = QString::fromStdString(options.arguments[0]);
  if (!openOrSay(session)) return kNoAnswer;
  paramfile::File file;
  file.controller = QString::fromStdString(session.target().url());
  const QDateTime now = QDateTime::currentDateTime();
  file.readAt = now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate);
  const int exit = readRows(session, paramfile::fileParams(), file.values);
  if (exit == kNoAnswer) {
    say(path + QStringLiteral(": not written"));
    return exit;
  }
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(paramfile::fileText(file)) < 0 || !f.commit()) {
    say(QStringLiteral("%1: %2").arg(path, f.errorString()));
    return kUsage;
  }
  say(QStringLiteral("%1 parameters saved to %2").arg(file.values.size()).arg(path));
  return exit;
}

int runDiff(Session &session, const Options &options) {
  const std::optional<paramfile::File> file = readFileOrSay(options.arguments[0]);
  if (!file) return kUsage;
  if (!openOrSay(session)) return kNoAnswer;
  std::vector<Entry> got;
  const int exit = readRows(session, rowsOf(*file), got);
  if (exit == kNoAnswer) return exit;
  const std::vector<paramfile::Comparison> rows = paramfile::compare(*file, got);
  const int differences = paramfile::differenceCount(rows);
  if (options.json) {
    QJsonArray list;
    for (const paramfile::Comparison &c : rows)
      list.append(QJsonObject{{QStringLiteral("name"), keyOf(*c.row)},
                              {QStringLiteral("file"), paramfile::toJson(c.file)},
                              {QStringLiteral("controller"), c.controller ? paramfile::toJson(*c.controller) : QJsonValue()},
                              {QStringLiteral("unit"), unitOf(*c.row)},
                              {QStringLiteral("differs"), c.differs}});
    out(QJsonDocument(QJsonObject{{QStringLiteral("differences"), differences}, {QStringLiteral("parameters"), list}})
            .toJson(QJsonDocument::Indented));
  } else {
    QString text = QStringLiteral("name\tfile\tcontroller\tunit\n");
    for (const paramfile::Comparison &c : rows)
      text += QStringLiteral("%1%2\t%3\t%4\t%5\n")
                  .arg(c.differs ? QStringLiteral("* ") : QString(), keyOf(*c.row), paramfile::valueText(c.file),
                       c.controller ? paramfile::valueText(*c.controller) : QStringLiteral("(not read)"), unitOf(*c.row));
    out(text);
  }
  say(QStringLiteral("%1 difference%2").arg(differences).arg(differences == 1 ? "" : "s"));
  return differences > 0 ? kRefused : exit;
}

int runRestore(Session &session, const Options &options) {
  const std::optional<paramfile::File> file = readFileOrSay(options.arguments[0]);
  if (!file) return kUsage;
  if (!openOrSay(session)) return kNoAnswer;
  std::vector<Entry> got;
  const int readExit = readRows(session, rowsOf(*file), got);
  if (readExit == kNoAnswer) return readExit;
  std::vector<Entry> writes;
  std::vector<Outcome> held;  // differences that are not written
  for (const paramfile::Comparison &c : paramfile::compare(*file, got)) {
    if (!c.differs) continue;
    const QString line = QStringLiteral("%1: %2 -> %3 %4")
                             .arg(keyOf(*c.row), c.controller ? paramfile::valueText(*c.controller) : QStringLiteral("?"),
                                  paramfile::valueText(c.file), unitOf(*c.row))
                             .trimmed();
    if (!c.row->writes()) {
      held.push_back(Outcome::ReadOnly);
      say(line + QStringLiteral(" (") + paramfile::outcomeText(Outcome::ReadOnly) + QLatin1Char(')'));
    } else if (paramfile::switchesOn(*c.row, *paramfile::rawOf(*c.row, c.file))) {
      held.push_back(Outcome::NeedsOwnConfirmation);
      say(line + QStringLiteral(" (") + paramfile::outcomeText(Outcome::NeedsOwnConfirmation) +
          QStringLiteral("; use set ") + keyOf(*c.row) + QStringLiteral("=1 --yes)"));
    } else {
      writes.push_back({c.row, c.file});
      say(line);
    }
  }
  if (writes.empty()) {
    say(QStringLiteral("nothing to write"));
    return held.empty() ? readExit : kRefused;
  }
  if (options.dryRun) {
    say(QStringLiteral("%1 parameter%2 would be written (--dry-run: nothing was sent)").arg(writes.size()).arg(writes.size() == 1 ? "" : "s"));
    return kDone;
  }
  if (!options.yes && !askAtTerminal(QStringLiteral("Write these %1 parameters?").arg(writes.size()))) {
    say(QStringLiteral("nothing was written (restore writes with --yes, or a yes at the terminal)"));
    return kUsage;
  }
  const int exit = writeAll(session, writes);
  if (exit == kDone && (!held.empty() || readExit != kDone)) return kRefused;
  return exit;
}

}  // namespace

int runParams(Session &session, const Options &options) {
  using C = Options::Command;
  switch (options.command) {
    case C::Get: return runGet(session, options);
    case C::Set: return runSet(session, options);
    case C::Backup: return runBackup(session, options);
    case C::Diff: return runDiff(session, options);
    case C::Restore: return runRestore(session, options);
    default: return kUsage;
  }
}

}  // namespace cli
