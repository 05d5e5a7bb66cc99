// The alarm journal's event detection, the trend rings and their decimation, and the rows of
// a recording, as pure logic: states and samples in, events, points and texts out.
#include <QtTest>

#include "pages/AlarmJournal.h"
#include "pages/Recorder.h"
#include "pages/TrendStore.h"

using journal::Kind;

namespace {

// "1" raised, "0" clear, "?" unknown; "1:短路" raised with a detail.
struct Step {
  std::optional<bool> state;
  QString detail;
};
std::vector<Step> steps(const QString &script) {
  std::vector<Step> out;
  for (const QString &s : script.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
    const QString state = s.section(QLatin1Char(':'), 0, 0), detail = s.section(QLatin1Char(':'), 1);
    out.push_back({state == QLatin1String("?") ? std::nullopt : std::optional<bool>(state == QLatin1String("1")), detail});
  }
  return out;
}

status::ModuleRecord module(uint8_t statusBits, uint8_t fault, int centiamps = 0) {
  status::ModuleRecord m;
  m.present = 1;
  m.voltage[0] = 5350 >> 8;
  m.voltage[1] = 5350 & 0xFF;
  m.current[0] = uint8_t(centiamps >> 8);
  m.current[1] = uint8_t(centiamps & 0xFF);
  m.status = statusBits;
  m.fault = fault;
  return m;
}

QList<double> values(const std::vector<QPointF> &points) {
  QList<double> v;
  for (const QPointF &p : points) v << p.y();
  return v;
}

}  // namespace

class TestMonitor : public QObject {
  Q_OBJECT
 private slots:
  // ---- the journal: states in, events out
  void detector_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("events");
    QTest::newRow("first answer clear: nothing") << "0,0" << "";
    QTest::newRow("first answer raised") << "1" << "告警";
    QTest::newRow("raised and cleared") << "0,1,0" << "告警,恢复";
    QTest::newRow("still raised: one event") << "1,1,1" << "告警";
    QTest::newRow("red, unknown, red: one event") << "1,?,?,1" << "告警";
    QTest::newRow("red, unknown, clear") << "1,?,0" << "告警,恢复";
    QTest::newRow("green, unknown, green") << "0,?,0" << "";
    QTest::newRow("unknown first, then clear") << "?,0,?" << "";
    QTest::newRow("raised again after clearing") << "1,0,1,0" << "告警,恢复,告警,恢复";
    QTest::newRow("another kind while raised") << "1:欠压,1:欠压,1:掉电,0:正常" << "告警:欠压,告警:掉电,恢复:正常";
    QTest::newRow("unknown keeps the detail") << "1:短路,?,1:短路" << "告警:短路";
  }
  void detector() {
    QFETCH(QString, script);
    QFETCH(QString, events);
    for (int source : {1, journal::kAcSource, journal::moduleSource(7), journal::kLinkSource}) {
      journal::Detector d;
      QStringList made;
      qint64 t = 1000;
      for (const Step &s : steps(script))
        if (auto e = d.update(source, s.state, s.detail, t += 1000)) {
          QCOMPARE(e->source, uint16_t(source));
          QCOMPARE(e->msecs, t);
          const QString kind = e->kind == Kind::Raised ? QStringLiteral("告警") : QStringLiteral("恢复");
          made << (script.contains(QLatin1Char(':')) ? kind + QLatin1Char(':') + e->detail : kind);
        }
      QCOMPARE(made.join(QLatin1Char(',')), events);
    }
    // sources are independent, and one out of range makes nothing
    journal::Detector d;
    QVERIFY(d.update(0, true, {}, 1));
    QVERIFY(d.update(1, true, {}, 1));
    QVERIFY(!d.update(journal::kSources, true, {}, 1));
    QVERIFY(!d.update(-1, true, {}, 1));
    QCOMPARE(d.known(2), std::optional<bool>());
  }

  void sourceNames_data() {
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("name");
    auto lamp = [](const char *shape) {
      for (size_t i = 0; i < status::lamps().size(); ++i)
        if (qstrcmp(status::lamps()[i].lamp, shape) == 0) return int(i);
      return -1;
    };
    QTest::newRow("Shape2") << lamp("Shape2") << "-48V电池低压";
    QTest::newRow("Shape18") << lamp("Shape18") << "门禁";
    QTest::newRow("Shape22") << lamp("Shape22") << "交流空开";
    QTest::newRow("Shape29") << lamp("Shape29") << "电池1熔丝";
    QTest::newRow("Shape26") << lamp("Shape26") << "防雷";
    QTest::newRow("AC lamp") << journal::kAcSource << "交流";
    QTest::newRow("module 1") << journal::moduleSource(1) << "模块1";
    QTest::newRow("module 12 fan") << journal::moduleFanSource(12) << "模块12";
    QTest::newRow("link") << journal::kLinkSource << "通讯";
    QTest::newRow("out of range") << journal::kSources << "";
  }
  void sourceNames() {
    QFETCH(int, source);
    QFETCH(QString, name);
    QCOMPARE(journal::sourceName(source), name);
  }

  void moduleAlarms_data() {
    QTest::addColumn<int>("statusBits");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("protection");  // "" when clear
    QTest::addColumn<bool>("fan");
    QTest::newRow("normal") << 0x00 << 0 << "" << false;
    QTest::newRow("protection") << 0x20 << 0 << "告警" << false;
    QTest::newRow("short circuit, switched off") << 0x24 << 3 << "短路" << false;
    QTest::newRow("fault text without the bit") << 0x00 << 6 << "输入掉电" << false;
    QTest::newRow("unknown fault code") << 0x00 << 5 << "" << false;
    QTest::newRow("fan") << 0x10 << 0 << "" << true;
    QTest::newRow("not present") << 0x80 << 0 << "" << false;
  }
  void moduleAlarms() {
    QFETCH(int, statusBits);
    QFETCH(int, fault);
    QFETCH(QString, protection);
    QFETCH(bool, fan);
    const status::ModuleRecord m = module(uint8_t(statusBits), uint8_t(fault));
    QCOMPARE(journal::moduleProtection(m).raised, !protection.isEmpty());
    QCOMPARE(journal::moduleProtection(m).detail, protection.isEmpty() ? QStringLiteral("正常") : protection);
    QCOMPARE(journal::moduleFan(m).raised, fan);
  }

  void journalTable() {
    journal::JournalModel model;
    QCOMPARE(model.columnCount(), 4);
    QCOMPARE(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("来源"));
    const qint64 t = QDateTime(QDate(2024, 3, 5), QTime(8, 7, 9), Qt::OffsetFromUTC, 8 * 3600).toMSecsSinceEpoch();  // the clock's zone
    const quint64 first = model.append({{t, uint16_t(journal::moduleSource(3)), Kind::Raised, QStringLiteral("短路")},
                                        {t + 1000, uint16_t(journal::kLinkSource), Kind::Cleared, QStringLiteral("已连接")}});
    QCOMPARE(model.rowTexts(0), (QStringList{"2024-03-05 08:07:09", "模块3", "告警", "短路"}));
    QCOMPARE(model.rowTexts(1), (QStringList{"2024-03-05 08:07:10", "通讯", "恢复", "已连接"}));
    QCOMPARE(model.data(model.index(2, 0), Qt::DisplayRole), QVariant());

    // a row is replaced in place by its number, and the view is told
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QVERIFY(model.replace(first + 1, {t + 5000, uint16_t(journal::kLinkSource), Kind::Raised, QStringLiteral("连接中断 ×2")}));
    QCOMPARE(model.rowTexts(1), (QStringList{"2024-03-05 08:07:14", "通讯", "告警", "连接中断 ×2"}));
    QCOMPARE(changed.size(), 1);
    QVERIFY(!model.replace(first + 2, {t, uint16_t(journal::kLinkSource), Kind::Raised, {}}));  // never made

    // beyond its capacity the oldest alarms go, a block at a time; at least 100 000 always stay
    QVERIFY(journal::JournalModel::kCapacity - journal::JournalModel::kDropBlock >= 100000);
    std::vector<journal::Event> many;
    for (int i = 0; i < journal::JournalModel::kCapacity; ++i)
      many.push_back({t + i, uint16_t(i % journal::kLinkSource), Kind::Raised, {}});
    model.append(many);
    QCOMPARE(model.rowCount(), journal::JournalModel::kCapacity + 2 - journal::JournalModel::kDropBlock);
    QCOMPARE(model.eventAt(model.rowCount() - 1).msecs, t + journal::JournalModel::kCapacity - 1);
    // the link's row stays: only alarms made room for alarms
    QCOMPARE(model.eventAt(0).source, uint16_t(journal::kLinkSource));
    QCOMPARE(model.eventAt(1).msecs, t + journal::JournalModel::kDropBlock - 1);
    QVERIFY(!model.replace(first, {t, uint16_t(journal::moduleSource(3)), Kind::Raised, {}}));  // dropped
    QVERIFY(model.replace(first + 1, {t, uint16_t(journal::kLinkSource), Kind::Cleared, {}}));
  }

  // However many rows the link adds, the alarms all stay: each kind has its own bound.
  void linkRowsNeverPushAlarmsOut() {
    journal::JournalModel model;
    const int alarms = 1000;
    std::vector<journal::Event> batch;
    for (int i = 0; i < alarms; ++i) batch.push_back({i, uint16_t(i % journal::kLampSources), Kind::Raised, {}});
    model.append(batch);
    // link rows between the alarms and after them, 20 bounds' worth, one by one
    const int linkRows = 20 * journal::JournalModel::kLinkCapacity;
    for (int i = 0; i < linkRows; ++i) {
      model.append({{alarms + i, uint16_t(journal::kLinkSource), i % 2 ? Kind::Cleared : Kind::Raised, {}}});
      if (i % 50'000 == 0) model.append({{alarms + i, uint16_t(journal::kAcSource), Kind::Raised, {}}});
    }
    QVERIFY(model.linkRows() <= journal::JournalModel::kLinkCapacity);
    QVERIFY(model.linkRows() >= journal::JournalModel::kLinkCapacity - journal::JournalModel::kLinkDropBlock);
    QCOMPARE(model.rowCount() - model.linkRows(), alarms + 4);
    for (int i = 0; i < alarms; ++i) QCOMPARE(model.eventAt(i).msecs, qint64(i));
    QCOMPARE(model.eventAt(model.rowCount() - 1).msecs, qint64(alarms + linkRows - 1));  // the newest stay
    const std::vector<journal::Event> copy = model.events();
    QCOMPARE(int(copy.size()), model.rowCount());
    QVERIFY(std::is_sorted(copy.begin(), copy.end(), [](const auto &a, const auto &b) { return a.msecs < b.msecs; }));
  }

  // The link's drops and returns: one of each makes two rows; a link that cannot stay up for
  // a minute has all its further flaps in one row, whatever their number.
  void linkFlapsShareOneRow() {
    journal::LinkEpisodes links;
    journal::JournalModel model;
    std::optional<quint64> flapRow;
    auto apply = [&](std::optional<journal::LinkEpisodes::Entry> e) {
      if (!e) return;
      if (e->flaps && e->update && flapRow && model.replace(*flapRow, e->event)) return;
      const quint64 n = model.append({e->event});
      if (e->flaps) flapRow = n;
    };
    auto rows = [&] {
      QStringList out;
      for (int r = 0; r < model.rowCount(); ++r) out << model.rowTexts(r).mid(2).join(QLatin1Char(' ')) + QStringLiteral(" @%1").arg(model.eventAt(r).msecs / 1000);
      return out;
    };
    const qint64 s = 1000;
    QVERIFY(!links.up(QStringLiteral("已打开"), 0));  // the first open: nothing was lost
    QVERIFY(!links.up(QStringLiteral("已打开"), 1));
    apply(links.down(QStringLiteral("断开"), 10 * s));
    QVERIFY(!links.down(QStringLiteral("连接被拒绝"), 11 * s));  // a failed try: down already
    apply(links.up(QStringLiteral("已连接"), 20 * s));
    QCOMPARE(rows(), (QStringList{"告警 断开 @10", "恢复 已连接 @20"}));
    // a drop 5 s after the return, and 16 more: one row, its count and its state the latest
    for (int i = 0; i < 17; ++i) {
      apply(links.down(QStringLiteral("断开"), (25 + 2 * i) * s));
      apply(links.up(QStringLiteral("已连接"), (26 + 2 * i) * s));
    }
    apply(links.down(QStringLiteral("断开"), 100 * s));
    QCOMPARE(rows(), (QStringList{"告警 断开 @10", "恢复 已连接 @20", "告警 连接中断 ×19 @100"}));
    apply(links.up(QStringLiteral("已连接"), 101 * s));
    QCOMPARE(rows().last(), QStringLiteral("恢复 连接中断 ×19 @101"));
    // up for a minute: the episode is over, the next drop has rows of its own
    apply(links.down(QStringLiteral("断开"), 161 * s));
    apply(links.up(QStringLiteral("已连接"), 170 * s));
    apply(links.down(QStringLiteral("断开"), 171 * s));
    QCOMPARE(rows().mid(3), (QStringList{"告警 断开 @161", "恢复 已连接 @170", "告警 连接中断 ×2 @171"}));
    // a long outage with a moment up in between is a flap too
    apply(links.up(QStringLiteral("已连接"), 600 * s));
    apply(links.down(QStringLiteral("断开"), 601 * s));
    QCOMPARE(rows().last(), QStringLiteral("告警 连接中断 ×3 @601"));
    QCOMPARE(model.rowCount(), 6);
    // the first drop after start-up with nothing known yet is a drop
    journal::LinkEpisodes fresh;
    QVERIFY(fresh.down(QStringLiteral("连接被拒绝"), 0));
  }

  void alertsAtMostOnceAMinuteEachSource() {
    journal::AlertPacer pacer;
    QVERIFY(pacer.due(3, 0));
    QVERIFY(!pacer.due(3, 59'999));
    QVERIFY(pacer.due(4, 59'999));  // another source has its own minute
    QVERIFY(pacer.due(3, 60'000));
    QVERIFY(pacer.due(3, 1'000));  // the clock set back: due again
    QVERIFY(!pacer.due(journal::kSources, 0));
  }

  // ---- trends: the ring
  void ringKeepsItsSpan() {
    trend::Series s(10'000, 1000);
    for (int i = 0; i <= 20; ++i) s.add(i * 1000, i);
    QCOMPARE(s.size(), size_t(11));
    QCOMPARE(s.at(0).msecs, qint64(10'000));
    QCOMPARE(s.back().value, 20.0);
    QCOMPARE(s.lowerBound(15'500), size_t(6));
    QCOMPARE(s.lowerBound(99'000), s.size());

    // the clock set back: what is now in the future goes, the order stays
    s.add(17'500, -1);
    QCOMPARE(s.size(), size_t(9));
    QCOMPARE(s.back().msecs, qint64(17'500));
    QCOMPARE(s.at(7).msecs, qint64(17'000));

    // a full ring drops its oldest, whatever the span
    trend::Series small(1'000'000, 4);
    for (int i = 0; i < 10; ++i) small.add(i, i);
    QCOMPARE(small.size(), size_t(4));
    QCOMPARE(small.at(0).value, 6.0);
    QCOMPARE(small.back().value, 9.0);

    // a day at one sample a second stays within 40 bytes a sample
    trend::Series day;
    for (int i = 0; i < 86'400; ++i) day.add(qint64(i) * 1000, i % 50);
    QCOMPARE(day.size(), size_t(86'400));
    QVERIFY2(day.bytes() / day.size() <= 40, qPrintable(QString::number(day.bytes() / double(day.size()))));
  }

  void decimation_data() {
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("maxPoints");
    QTest::newRow("fewer than two a column: all") << 20 << 10 << 20;
    QTest::newRow("a day on 500 columns") << 86'400 << 500 << 1000;
    QTest::newRow("one column") << 1000 << 1 << 2;
  }
  void decimation() {
    QFETCH(int, samples);
    QFETCH(int, columns);
    QFETCH(int, maxPoints);
    trend::Series s(trend::kKeepMs, size_t(samples));
    for (int i = 0; i < samples; ++i) s.add(qint64(i) * 1000, (i * 37) % 101 - 50 + (i == samples / 3 ? 500 : 0));
    const std::vector<QPointF> points = trend::decimate(s, 0, qint64(samples - 1) * 1000, columns);
    QVERIFY(int(points.size()) <= maxPoints);
    QVERIFY(std::is_sorted(points.begin(), points.end(), [](QPointF a, QPointF b) { return a.x() < b.x(); }));
    const QList<double> v = values(points);
    QCOMPARE(*std::max_element(v.begin(), v.end()), 500.0 + (samples / 3 * 37) % 101 - 50);  // the peak survives
    QCOMPARE(*std::min_element(v.begin(), v.end()), -50.0);
    if (samples <= 2 * columns) QCOMPARE(int(points.size()), samples);
  }

  void decimationSpan() {
    trend::Series s;
    for (int i = 0; i < 10; ++i) s.add(i * 1000, i);
    QCOMPARE(values(trend::decimate(s, 3000, 5000, 100)), (QList<double>{3, 4, 5}));
    QCOMPARE(values(trend::decimate(s, 3500, 3600, 100)), QList<double>{});
    QCOMPARE(values(trend::decimate(s, 5000, 3000, 100)), QList<double>{});
    QCOMPARE(values(trend::decimate(s, 8000, std::numeric_limits<qint64>::max(), 100)), (QList<double>{8, 9}));
    // a ring that has wrapped round: its two runs in time order
    trend::Series wrapped(1'000'000, 8);
    for (int i = 0; i < 20; ++i) wrapped.add(i, i % 5 == 3 ? 100 - i : i);
    QCOMPARE(values(trend::decimate(wrapped, 0, 100, 100)), (QList<double>{12, 87, 14, 15, 16, 17, 82, 19}));
    QCOMPARE(values(trend::decimate(wrapped, 0, 100, 2)), (QList<double>{12, 87}));
    QCOMPARE(values(trend::decimate(wrapped, 10, 19, 2)), (QList<double>{12, 87, 15, 82}));
    // a flat column draws one point
    trend::Series flat;
    for (int i = 0; i < 100; ++i) flat.add(i, 7);
    QCOMPARE(values(trend::decimate(flat, 0, 99, 1)), QList<double>{7});
  }

  void trendTable() {
    std::array<trend::Series, 2> s;
    const qint64 t = QDateTime(QDate(2024, 3, 5), QTime(8, 0, 0), Qt::OffsetFromUTC, 8 * 3600).toMSecsSinceEpoch();
    s[0].add(t, 53.5);
    s[1].add(t, 220);
    s[0].add(t + 1000, 53.6);
    s[1].add(t + 2000, 221.5);
    const QList<QStringList> rows = trend::tableRows(s, t, t + 1500);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0], (QStringList{"时间(UTC+8)", "交流输入", "-48V输出电压"}));
    QCOMPARE(rows[1], (QStringList{"2024-03-05 08:00:00", "53.5", "220"}));
    QCOMPARE(rows[2], (QStringList{"2024-03-05 08:00:01", "53.6", ""}));
  }

  // ---- recording: one row per cycle
  void recordRow() {
    const QStringList header = recording::header();
    QCOMPARE(header.size(), 1 + 8 + 2 + 19 + 12 * 5);
    QCOMPARE(header.mid(0, 3), (QStringList{"时间(UTC+8)", "-48V输出电压", "电池电流"}));
    QCOMPARE(header[11 + 14], QStringLiteral("门禁"));
    QCOMPARE(header[11 + 18], QStringLiteral("交流"));
    QCOMPARE(header.last(), QStringLiteral("模块12保护"));

    recording::Snapshot s;
    s.msecs = QDateTime(QDate(2024, 3, 5), QTime(8, 7, 9), Qt::OffsetFromUTC, 8 * 3600).toMSecsSinceEpoch();
    s.measurements = {"53.5", "-1", "24", "25", "26", "3", "45", "220"};
    s.batteryState = QStringLiteral("浮充");
    s.acState = QStringLiteral("掉电");
    s.lamps.assign(19, false);
    s.lamps[14] = s.lamps[18] = true;
    for (auto &m : s.modules) m = status::absentModule();
    s.modules[2] = module(0x24, 3, 840);
    const QStringList row = recording::row(s);
    QCOMPARE(row.size(), header.size());
    QCOMPARE(row.mid(0, 11), (QStringList{"2024-03-05 08:07:09", "53.5", "-1", "24", "25", "26", "3", "45", "220",
                                          "浮充", "掉电"}));
    QCOMPARE(row.mid(11, 19).join(QString()), QStringLiteral("0000000000000010001"));
    QCOMPARE(row.mid(30, 5), (QStringList{"0", "不在位", "0", "0", "正常"}));
    QCOMPARE(row.mid(40, 5), (QStringList{"1", "关机", "53.5", "8.4", "短路"}));
  }
};

QTEST_MAIN(TestMonitor)
#include "test_monitor.moc"
