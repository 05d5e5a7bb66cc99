// status, records and energy: the status page's poll, the history read-out and the energy
// read-out, decoded by the tables the window's pages use (protocol/Status.h, History.h,
// Energy.h).
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

#include "cli/Commands.h"
#include "protocol/Conversions.h"
#include "protocol/Csv.h"
#include "protocol/Energy.h"
#include "protocol/History.h"
#include "protocol/Status.h"

namespace cli {

void out(const QByteArray &bytes) {
  std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
  std::fflush(stdout);
}
void out(const QString &text) { out(text.toUtf8()); }
void say(const QString &text) {
  std::fprintf(stderr, "powerhost-cli: %s\n", text.toUtf8().constData());
  std::fflush(stderr);
}

int failed(const Reply &reply, const QString &what) {
  switch (reply.outcome) {
    case Reply::Outcome::Answered: return kDone;
    case Reply::Outcome::Refused:
      say(QStringLiteral("%1: refused by the controller (return code %2)").arg(what).arg(reply.returnCode));
      return kRefused;
    case Reply::Outcome::Damaged: say(what + QStringLiteral(": the answer was damaged")); return kNoAnswer;
    case Reply::Outcome::NoAnswer: break;
  }
  say(what + QStringLiteral(": no answer from the controller"));
  return kNoAnswer;
}

namespace {

// The status page's boxes by name, in the order of protocol/Status.h's measurements.
struct MeasurementName {
  const char *box, *name, *unit;
};
const MeasurementName kMeasurementNames[] = {
    {"Edit16", "bus_voltage", "V"},           {"Edit17", "battery_current", "A"},
    {"Edit15", "load_current", "A"},          {"Edit32", "battery_temperature", "°C"},
    {"Edit18", "ambient_temperature", "°C"},  {"Edit33", "modules", ""},
    {"Edit19", "ambient_humidity", "%"},      {"Edit14", "ac_voltage", "V"},
};
const MeasurementName *nameOf(const status::Measurement &m) {
  for (const MeasurementName &n : kMeasurementNames)
    if (qstrcmp(n.box, m.box) == 0) return &n;
  return nullptr;
}

// "-48V输出过压：" -> "-48V输出过压"; the page's spacing inside a label goes too.
QString lampName(const char *label) {
  QString t = QString::fromUtf8(label).remove(QLatin1Char(' '));
  while (t.endsWith(QChar(0xFF1A)) || t.endsWith(QLatin1Char(':'))) t.chop(1);
  return t;
}

bool enough(const Reply &r, int bytes, const QString &what, int *exit) {
  if (!r.ok()) {
    *exit = failed(r, what);
    return false;
  }
  if (int(r.data.size()) < bytes) {
    say(what + QStringLiteral(": the answer was short"));
    *exit = kRefused;
    return false;
  }
  return true;
}

}  // namespace

int runStatus(Session &session, const Options &options) {
  int exit = kDone;
  const Reply system = session.ask(proto::Command::SystemStatus);
  if (!enough(system, 18, QStringLiteral("system status"), &exit)) return exit;
  const Reply ac = session.ask(proto::Command::AcStatus);
  if (!enough(ac, 5, QStringLiteral("AC status"), &exit)) return exit;
  const Reply list = session.ask(proto::Command::ModuleList);
  if (!enough(list, 0, QStringLiteral("module list"), &exit)) return exit;
  status::ModuleTable modules = status::noModules();
  const std::vector<int> listed = status::applyModuleList(modules, list.data.data(), int(list.data.size()));
  for (int n : listed) {
    const Reply r = session.ask(proto::Command::ModuleReadings, {uint8_t(n)});
    if (!enough(r, 11, QStringLiteral("module %1").arg(n), &exit)) return exit;
    status::storeReadings(modules[std::size_t(n)], r.data.data());
  }

  auto dataOf = [&](StatusAnswer a) { return a == StatusAnswer::Ac ? ac.data.data() : system.data.data(); };
  const std::optional<status::BatteryState> battery = status::batteryState(system.data[16]);
  const QString batteryText = battery ? status::batteryStateText(*battery) : QString();
  const status::AcState acState = status::acState(ac.data[4]);
  const auto &headings = status::moduleGridHeadings();

  if (options.json) {
    QJsonObject measured;
    for (const status::Measurement &m : status::measurements())
      if (const MeasurementName *n = nameOf(m))
        measured[QLatin1String(n->name)] = status::measurementValue(m.encoding, dataOf(m.answer) + m.offset);
    QJsonObject alarms;
    for (const status::Lamp &l : status::lamps()) alarms[lampName(l.label)] = l.raised(dataOf(l.answer));
    QJsonArray mods;
    for (int n : listed) {
      const auto texts = status::moduleRowTexts(modules[std::size_t(n)]);
      const status::ModuleView v = status::moduleView(modules[std::size_t(n)]);
      QJsonObject o{{QStringLiteral("module"), n}, {QStringLiteral("voltage"), v.volts}, {QStringLiteral("current"), v.amperes}};
      for (int c = 0; c < 6; ++c) o[headings[std::size_t(c + 1)]] = texts[std::size_t(c)];
      mods.append(o);
    }
    QJsonObject all{{QStringLiteral("measurements"), measured},
                    {QStringLiteral("battery_state"), batteryText},
                    {QStringLiteral("ac_state"), acState.text},
                    {QStringLiteral("ac_alarm"), acState.alarm},
                    {QStringLiteral("alarms"), alarms},
                    {QStringLiteral("modules"), mods}};
    out(QJsonDocument(all).toJson(QJsonDocument::Indented));
    return kDone;
  }
  QString text;
  for (const status::Measurement &m : status::measurements())
    if (const MeasurementName *n = nameOf(m))
      text += QStringLiteral("%1\t%2\t%3\n")
                  .arg(QLatin1String(n->name), status::measurementText(m.encoding, dataOf(m.answer) + m.offset),
                       QString::fromUtf8(n->unit));
  text += QStringLiteral("battery_state\t%1\n").arg(batteryText);
  text += QStringLiteral("ac_state\t%1\n").arg(acState.text);
  for (const status::Lamp &l : status::lamps())
    text += QStringLiteral("alarm\t%1\t%2\n")
                .arg(lampName(l.label), l.raised(dataOf(l.answer)) ? QStringLiteral("告警") : QStringLiteral("正常"));
  for (int n : listed) {
    const auto texts = status::moduleRowTexts(modules[std::size_t(n)]);
    QStringList fields{QStringLiteral("module"), QString::number(n)};
    for (const QString &t : texts) fields << t;
    text += fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
  }
  out(text);
  return kDone;
}

// The whole history, newest first, as "获取记录" reads it: the count, then each index from the
// newest down to 0. An erased slot adds no row.
int runRecords(Session &session, const Options &options) {
  int exit = kDone;
  const Reply count = session.ask(proto::Command::HistoryCount, {0x00, 0x01, 0x01, 0x01, 0x01, 0x01});
  if (!enough(count, 2, QStringLiteral("record count"), &exit)) return exit;
  const int records = count.data[0] * 256 + count.data[1];
  QList<QStringList> rows{{QStringLiteral("发生时间"), QStringLiteral("告警事件")}};
  for (int index = records - 1; index >= 0; --index) {
    const Reply r = session.ask(proto::Command::HistoryRecord, {uint8_t(index >> 8), uint8_t(index & 0xFF)});
    if (!enough(r, history::kRecordBytes, QStringLiteral("record %1").arg(index), &exit)) return exit;
    if (history::isEmpty(r.data.data())) continue;
    rows.append({history::timeText(r.data.data()), history::eventText(r.data[6], r.data[7])});
  }
  if (options.csv) {
    out(csvText(rows));
  } else {
    QString text;
    for (const QStringList &row : rows.mid(1)) text += row.join(QLatin1Char('\t')) + QLatin1Char('\n');
    out(text);
  }
  return kDone;
}

// The energy page's sixteen rows: the twelve months, then today, this month, this year and
// the total, each of the four users with its figure and share.
int runEnergy(Session &session, const Options &options) {
  int exit = kDone;
  constexpr int kUsers = 4;
  struct Row {
    QString title;
    uint32_t figures[kUsers];
    int percents[kUsers];
  };
  std::vector<Row> rows;
  auto fill = [](Row &row, const uint8_t *figures, const uint8_t *percents) {
    for (int u = 0; u < kUsers; ++u) {
      row.figures[u] = energy::figure(figures + 4 * u);
      row.percents[u] = percents[u];
    }
  };
  for (int month = 1; month <= 12; ++month) {
    const uint8_t bcd = uint8_t((month / 10) << 4 | (month % 10));
    const Reply r = session.ask(proto::Command::EnergyMonth, {bcd});
    if (!enough(r, energy::kMonthBytes, QStringLiteral("energy of month %1").arg(month), &exit)) return exit;
    const std::optional<int> got = energy::bcdMonth(r.data[0]);
    if (!got || *got != month) {
      say(QStringLiteral("energy of month %1: the answer is of another month").arg(month));
      return kRefused;
    }
    Row row;
    row.title = energy::monthTitle(energy::recordYear(r.data[21], r.data[22], month), month);
    fill(row, r.data.data() + 1, r.data.data() + 17);
    rows.push_back(row);
  }
  const proto::Command totals[] = {proto::Command::EnergyToday, proto::Command::EnergyThisMonth,
                                   proto::Command::EnergyThisYear, proto::Command::EnergyTotal};
  for (int i = 0; i < 4; ++i) {
    const Reply r = session.ask(totals[i]);
    const QString title = energy::totalTitle(13 + i);
    if (!enough(r, energy::kTotalBytes, QStringLiteral("energy ") + title, &exit)) return exit;
    Row row;
    row.title = title;
    fill(row, r.data.data(), r.data.data() + 16);
    rows.push_back(row);
  }
  if (options.csv) {
    QList<QStringList> table{{QStringLiteral("时间"), QStringLiteral("user1_kwh"), QStringLiteral("user1_percent"),
                              QStringLiteral("user2_kwh"), QStringLiteral("user2_percent"), QStringLiteral("user3_kwh"),
                              QStringLiteral("user3_percent"), QStringLiteral("user4_kwh"), QStringLiteral("user4_percent")}};
    for (const Row &row : rows) {
      QStringList fields{row.title};
      for (int u = 0; u < kUsers; ++u) fields << proto::formatGeneral(row.figures[u] / 10.0) << QString::number(row.percents[u]);
      table.append(fields);
    }
    out(csvText(table));
    return kDone;
  }
  QString text = QStringLiteral("时间\t用户1\t用户2\t用户3\t用户4\n");
  for (const Row &row : rows) {
    QStringList fields{row.title};
    for (int u = 0; u < kUsers; ++u) fields << energy::cellText(row.figures[u], row.percents[u]);
    text += fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
  }
  out(text);
  return kDone;
}

}  // namespace cli
