// Readable at a glance, through the window's controls: polling while the trend or the journal
// is shown, a gap drawn as a gap, one value axis per unit with eight distinct colours and a
// legend that fits, zoom, drag and the cursor readout, the picture's title, parameter boxes
// that say whether they were read, the module grid's colours, one clock, the window on a
// laptop and on a small screen, the log's times and directions, the journal's staleness rows,
// colours and current alarms, the port list and Qt's own texts in Chinese.
//
// With POWERHOST_SCREENSHOTS set to a folder, the tests that show a page also save it there
// (run under a display to draw as a desktop does).
#include <QtTest>

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QWheelEvent>

#include <cmath>

#include "pages/AlarmJournal.h"
#include "pages/ClockZone.h"
#include "pages/ModuleTones.h"
#include "pages/ParamBoxState.h"
#include "pages/ParamTable.h"
#include "pages/Recorder.h"
#include "pages/TrendChart.h"
#include "pages/TrendStore.h"
#include "protocol/Commands.h"
#include "protocol/Frame.h"
#include "protocol/Status.h"
#include "support/FormFixture.h"
#include "support/ScriptedPlant.h"
#include "support/TestSupport.h"
#include "window/Controls.h"
#include "window/PortList.h"
#include "window/ProtocolLog.h"

using namespace testsupport;

namespace {

// 2024-03-05 00:00:00 UTC: 08:00 on the status-bar clock.
const qint64 kT0 = QDateTime(QDate(2024, 3, 5), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();

QAction *action(const TestForm &f, const char *name) {
  auto *a = f.findChild<QAction *>(QString::fromLatin1(name));
  if (!a) qFatal("no action %s", name);
  return a;
}

template <class W>
W *control(const TestForm &f, const char *name) {
  auto *w = f.findChild<W *>(QString::fromLatin1(name));
  if (!w) qFatal("no control %s", name);
  return w;
}

// Saves the window at `size` showing `page`, when screenshots are asked for.
void shot(TestForm &f, QSize size, int page, const char *file) {
  const QString folder = qEnvironmentVariable("POWERHOST_SCREENSHOTS");
  if (folder.isEmpty()) return;
  f.PageControl1->setCurrentIndex(page);
  f.resize(size);
  f.show();
  QVERIFY(QTest::qWaitForWindowExposed(&f));
  QTest::qWait(300);
  QVERIFY(f.grab().save(folder + QLatin1Char('/') + QLatin1String(file)));
}

QSize designWindow() { return {TestForm::kDesignClientWidth, TestForm::kDesignClientHeight + TestForm::kStatusBarHeight}; }

// One status and one AC answer as the hooks read them, the values given, then the module
// phase's end: a polling cycle without a link.
void cycle(TestForm &f, double volts, double amps, double temperature, double ac) {
  auto put16 = [&](int offset, int value) {
    f.payload[4 + offset] = uint8_t((value >> 8) & 0xFF);
    f.payload[5 + offset] = uint8_t(value & 0xFF);
  };
  std::fill(std::begin(f.payload), std::end(f.payload), uint8_t(0));
  put16(0, int(std::lround(volts * 100)));   // output voltage
  put16(2, int(std::lround(amps * 4)));      // battery current (tenths)
  put16(4, int(std::lround(amps * 10)));     // output current
  put16(6, int(std::lround(temperature * 10)));
  put16(8, int(std::lround((temperature - 3) * 10)));
  f.payload[4 + 10] = 4;
  put16(11, 450 + int(std::lround(temperature)));  // humidity
  f.monitorStatusShown(StatusAnswer::System);
  std::fill(std::begin(f.payload), std::end(f.payload), uint8_t(0));
  put16(0, int(std::lround(ac * 10)));
  f.monitorStatusShown(StatusAnswer::Ac);
  for (int n = 1; n <= 4; ++n) {  // four modules feed the load and charge the battery
    status::ModuleRecord &m = f.moduleTable[size_t(n)];
    m.present = 1;
    m.status = 0;
    const int centiamps = int(std::lround(amps * 1.4 * 100 / 4)) + n;
    m.current[0] = uint8_t(centiamps >> 8);
    m.current[1] = uint8_t(centiamps & 0xFF);
  }
  f.monitorModulesShown();
}

// A cycle a second from *now for `seconds`, the values drifting with time.
void cycles(TestForm &f, qint64 &now, int seconds) {
  for (int i = 0; i < seconds; ++i) {
    now += 1000;
    const double t = double(now - kT0) / 60000.0;  // minutes
    cycle(f, 53.5 + 0.3 * std::sin(t / 7), 24 + 6 * std::sin(t / 11), 25 + 2 * std::sin(t / 23),
          220 + 4 * std::sin(t / 5));
  }
}

void sendWheel(QWidget *w, QPoint at, int delta) {
  QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                false);
  QApplication::sendEvent(w, &e);
}

void sendMouse(QWidget *w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons) {
  QMouseEvent e(type, at, w->mapToGlobal(at), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

// The journal's rows as its view shows them: 来源, 事件 and 详情.
QStringList journalEvents(const TestForm &f) {
  QStringList out;
  const QAbstractItemModel *m = f.AlarmJournal->model();
  for (int r = 0; r < m->rowCount(); ++r)
    out << QStringList{m->index(r, 1).data().toString(), m->index(r, 2).data().toString(), m->index(r, 3).data().toString()}
               .join(QLatin1Char(' '));
  return out;
}

int quantity(const char *name) {
  for (int q = 0; q < trend::kQuantities; ++q)
    if (qstrcmp(trend::quantities()[size_t(q)].name, name) == 0) return q;
  return -1;
}

}  // namespace

class TestReadable : public QObject {
  Q_OBJECT
 private slots:
  void init() { SteadyTimer::setTimeScale(0.25); }
  void cleanup() { SteadyTimer::setTimeScale(1.0); }

  // ---- 1. the trend shows what it says

  void pollingFollowsThePagesThatShowIt_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<bool>("polls");
    QTest::newRow("趋势") << 6 << true;
    QTest::newRow("告警记录") << 5 << true;
    QTest::newRow("参数1设置") << 0 << false;
  }
  void pollingFollowsThePagesThatShowIt() {
    QFETCH(int, page);
    QFETCH(bool, polls);
    MessageRecorder boxes;
    ScriptedPlant plant;
    TestForm f;
    QVERIFY(pollPlant(f, plant));
    f.PageControl1->setCurrentIndex(page);
    QVERIFY(!f.backgroundMonitoring());
    const int before = plant.cycles();
    if (polls) {
      QVERIFY(waitFor([&] { return plant.cycles() >= before + 3; }, 5000));
    } else {
      QTest::qWait(1500);  // six ticks at this pace
      QVERIFY(plant.cycles() <= before + 1);  // at most the cycle under way ends
    }
  }

  void runsBreakWhereSamplesStop_data() {
    QTest::addColumn<QList<qint64>>("times");
    QTest::addColumn<qint64>("columnMs");
    QTest::addColumn<QList<int>>("starts");
    QTest::newRow("none") << QList<qint64>{} << qint64(1000) << QList<int>{};
    QTest::newRow("a poll a second") << QList<qint64>{0, 1000, 2000, 3000} << qint64(1000) << QList<int>{0};
    QTest::newRow("polls missed: five seconds still joined")
        << QList<qint64>{0, 5000, 6000} << qint64(1000) << QList<int>{0};
    QTest::newRow("a minute without samples") << QList<qint64>{0, 1000, 61'000, 62'000} << qint64(1000)
                                              << QList<int>{0, 2};
    QTest::newRow("two gaps") << QList<qint64>{0, 10'000, 20'000} << qint64(1000) << QList<int>{0, 1, 2};
    QTest::newRow("wide columns join neighbours") << QList<qint64>{0, 300'000, 600'000} << qint64(200'000)
                                                  << QList<int>{0};
    QTest::newRow("wide columns, an empty column between") << QList<qint64>{0, 200'000, 900'000} << qint64(200'000)
                                                           << QList<int>{0, 2};
  }
  void runsBreakWhereSamplesStop() {
    QFETCH(QList<qint64>, times);
    QFETCH(qint64, columnMs);
    QFETCH(QList<int>, starts);
    std::vector<QPointF> points;
    for (qint64 t : times) points.emplace_back(double(t), 1.0);
    QList<int> got;
    for (size_t s : trend::runStarts(points, columnMs)) got << int(s);
    QCOMPARE(got, starts);
  }

  // Polling stops for a minute (another page shown, the link down, the controller silent):
  // every line breaks there, in the chart and in its picture.
  void aGapIsDrawnAsAGap() {
    MessageRecorder boxes;
    TestForm f;
    qint64 now = kT0;
    f.monitorClock = [&] { return now; };
    f.resize(designWindow());
    f.show();
    f.PageControl1->setCurrentWidget(f.TabSheetTrend);
    cycles(f, now, 120);
    now += 60'000;
    cycles(f, now, 120);
    f.ComboBoxTrendWindow->setCurrentIndex(1);  // an hour
    for (int q = 0; q < trend::kQuantities; ++q) {
      QCOMPARE(f.TrendChart->runs(q).size(), size_t(2));
      const std::vector<QPointF> &p = f.TrendChart->points(q);
      const size_t second = f.TrendChart->runs(q)[1];
      QVERIFY(p[second].x() - p[second - 1].x() >= 60'000);
    }
    // the picture: no stroke of a line across the gap's middle
    const QImage image = f.TrendChart->grab().toImage();
    const int x = f.TrendChart->xOf(kT0 + 120'000 + 30'000);
    for (int q = 0; q < trend::kQuantities; ++q) {
      const QRect plot = f.TrendChart->plotRect(trend::unitOf(q));
      for (int y = plot.top() + 2; y < plot.bottom() - 1; ++y)
        QVERIFY2(image.pixelColor(x, y) != trendColour(q), trend::quantities()[size_t(q)].name);
    }
  }

  void eightColoursOneAxisPerUnit() {
    // eight colours, every two apart in some channel by a good step
    for (int a = 0; a < trend::kQuantities; ++a)
      for (int b = a + 1; b < trend::kQuantities; ++b) {
        const QColor x = trendColour(a), y = trendColour(b);
        const int apart = std::max({std::abs(x.red() - y.red()), std::abs(x.green() - y.green()), std::abs(x.blue() - y.blue())});
        QVERIFY2(apart >= 60, qPrintable(QStringLiteral("%1 / %2").arg(a).arg(b)));
      }
    // one axis for each unit, the quantities on their unit's
    const QStringList units{"V", "V", "A", "A", "°C", "°C", "%RH", "A"};
    for (int q = 0; q < trend::kQuantities; ++q)
      QCOMPARE(QString::fromUtf8(trend::units()[size_t(trend::unitOf(q))]), units[q]);

    MessageRecorder boxes;
    TestForm f;
    qint64 now = kT0;
    f.monitorClock = [&] { return now; };
    f.resize(designWindow());
    f.show();
    f.PageControl1->setCurrentWidget(f.TabSheetTrend);
    cycles(f, now, 60);
    TrendChartView *chart = f.TrendChart;
    for (int u = 0; u < int(trend::units().size()); ++u) {
      QVERIFY(!chart->plotRect(u).isEmpty());
      for (int v = u + 1; v < int(trend::units().size()); ++v) QVERIFY(!chart->plotRect(u).intersects(chart->plotRect(v)));
    }
    // each axis spans its own values only: volts around 220 and 53.5, degrees around 25
    const auto [vLow, vHigh] = chart->valueRange(trend::unitOf(quantity("交流输入")));
    QVERIFY(vLow <= 53 && vHigh >= 224);
    const auto [cLow, cHigh] = chart->valueRange(trend::unitOf(quantity("电池温度")));
    QVERIFY(cLow >= 15 && cHigh <= 35);
    const auto [hLow, hHigh] = chart->valueRange(trend::unitOf(quantity("环境湿度")));
    QVERIFY(hLow >= 40 && hHigh <= 55);
  }

  void theLegendFits_data() {
    QTest::addColumn<QSize>("window");
    QTest::newRow("design size") << designWindow();
    QTest::newRow("1920x1080") << QSize(1920, 1040);
    QTest::newRow("smallest") << QSize(TestForm::kMinimumWidth, TestForm::kMinimumHeight);
  }
  void theLegendFits() {
    QFETCH(QSize, window);
    MessageRecorder boxes;
    TestForm f;
    f.resize(window);
    f.show();
    f.PageControl1->setCurrentWidget(f.TabSheetTrend);
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    const TrendChartView *chart = f.TrendChart;
    for (int q = 0; q < trend::kQuantities; ++q) {
      const QRect r = chart->legendRect(q);
      QVERIFY2(chart->rect().contains(r), trend::quantities()[size_t(q)].name);
      const QString text = QStringLiteral("%1 (%2)").arg(QString::fromUtf8(trend::quantities()[size_t(q)].name),
                                                         QString::fromUtf8(trend::quantities()[size_t(q)].unit));
      QVERIFY(chart->fontMetrics().horizontalAdvance(text) + 20 <= r.width());
      for (int p = q + 1; p < trend::kQuantities; ++p) QVERIFY(!r.intersects(chart->legendRect(p)));
      QVERIFY(r.bottom() <= chart->plotRect(trend::unitOf(q)).top());
    }
  }

  void zoomDragResetAndReadout() {
    MessageRecorder boxes;
    TestForm f;
    qint64 now = kT0;
    f.monitorClock = [&] { return now; };
    f.resize(designWindow());
    f.show();
    f.PageControl1->setCurrentWidget(f.TabSheetTrend);
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    cycles(f, now, 900);
    TrendChartView *chart = f.TrendChart;
    QCOMPARE(chart->viewEnd() - chart->viewBegin(), qint64(600'000));
    QVERIFY(chart->following());

    // the wheel zooms in around the mouse
    const QRect plot = chart->plotRect(0);
    const QPoint middle = plot.center();
    const qint64 at = chart->timeAt(middle.x());
    sendWheel(chart, middle, 120);
    QCOMPARE(chart->viewEnd() - chart->viewBegin(), qint64(480'000));
    QVERIFY(!chart->following());
    QVERIFY(qAbs(chart->timeAt(middle.x()) - at) < 2000);
    // new samples leave the zoomed view where it is
    const qint64 begin = chart->viewBegin();
    cycles(f, now, 5);
    QCOMPARE(chart->viewBegin(), begin);

    // a drag to the right shows earlier times
    sendMouse(chart, QEvent::MouseButtonPress, middle, Qt::LeftButton, Qt::LeftButton);
    sendMouse(chart, QEvent::MouseMove, middle + QPoint(100, 0), Qt::NoButton, Qt::LeftButton);
    sendMouse(chart, QEvent::MouseButtonRelease, middle + QPoint(100, 0), Qt::LeftButton, Qt::NoButton);
    QVERIFY(chart->viewBegin() < begin - 60'000);

    // the readout: the time in the clock's zone, and every line's value there
    sendMouse(chart, QEvent::MouseMove, middle, Qt::NoButton, Qt::NoButton);
    const QStringList readout = chart->readout().split(QLatin1Char('\n'));
    QCOMPARE(readout.size(), 1 + trend::kQuantities);
    QVERIFY(readout[0].endsWith(QStringLiteral(" (UTC+8)")));
    QVERIFY(readout[0].startsWith(QStringLiteral("2024-03-05 08:")));
    QVERIFY(readout[1].startsWith(QStringLiteral("交流输入 2")) && readout[1].endsWith(QStringLiteral(" V")));
    QVERIFY(readout[7].startsWith(QStringLiteral("环境湿度 4")) && readout[7].endsWith(QStringLiteral(" %RH")));
    // where there are no samples: a dash
    QVERIFY(chart->readoutAt(kT0 - 3'600'000).contains(QStringLiteral("交流输入 —")));

    // "复位": the newest samples again, over the chosen span
    control<QPushButton>(f, "ButtonTrendReset")->click();
    QVERIFY(chart->following());
    QCOMPARE(chart->viewEnd(), now);
    QCOMPARE(chart->viewEnd() - chart->viewBegin(), qint64(600'000));
  }

  void thePictureHasATitle() {
    MessageRecorder boxes;
    ScriptedPlant plant;
    TestForm f;
    QVERIFY(pollPlant(f, plant));
    f.PageControl1->setCurrentWidget(f.TabSheetTrend);
    QVERIFY(waitFor([&] { return plant.cycles() >= 3; }, 5000));
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("趋势.png"));
    {
      SaveAs answer(png);
      action(f, "actionExportTrendPng")->trigger();
    }
    waitForWrites();
    const QImage image(png);
    QVERIFY(!image.isNull());
    QVERIFY(image.height() > f.TrendChart->height());
    const QString title = image.text(QStringLiteral("Title"));
    QVERIFY2(title.contains(QStringLiteral("127.0.0.1")), qPrintable(title));
    QVERIFY(title.contains(QStringLiteral(" 至 ")));
    QVERIFY(title.contains(QStringLiteral("时间(UTC+8)")));
    QVERIFY(boxes.boxes.isEmpty());
  }

  void trendScreenshots() {
    if (qEnvironmentVariableIsEmpty("POWERHOST_SCREENSHOTS")) QSKIP("no screenshots asked for");
    MessageRecorder boxes;
    TestForm f;
    qint64 now = kT0;
    f.monitorClock = [&] { return now; };
    cycles(f, now, 1500);
    now += 300'000;  // five minutes without polling
    cycles(f, now, 1800);
    f.ComboBoxTrendWindow->setCurrentIndex(1);
    shot(f, designWindow(), 6, "trend-design.png");
    shot(f, QSize(1920, 1040), 6, "trend-1920x1080.png");
  }

  // ---- 2. parameter boxes say whether they hold a reading

  void parameterBoxesSayWhetherTheyWereRead() {
    MessageRecorder boxes;
    ScriptedPlant plant;
    plant.others = bytes({0x08, 0xAC});  // 222 V at a tenth
    bool refuse = false;
    const auto sound = plant.peer.respond;
    plant.peer.respond = [&, sound](const QByteArray &request) {
      const auto frame = proto::parseFrame(request.toStdString()).frame;
      if (refuse) return answer(frame.cid1, 0x04, {});
      // a write is acknowledged without data
      const proto::CommandDef *c = proto::findCommand(frame.cid1, frame.cid2OrRtn);
      if (c && c->kind != proto::CommandKind::Read) return answer(frame.cid1, 0, {});
      return sound(request);
    };
    TestForm f;
    f.PageControl1->setCurrentIndex(0);
    f.show();
    auto *box = control<QLineEdit>(f, "Edit5");
    auto *flag = control<QCheckBox>(f, "CheckBox1");
    auto *buzzer = control<QComboBox>(f, "ComboBox3");
    // the start texts, shown as not read
    QCOMPARE(box->text(), QStringLiteral("0"));
    for (QWidget *w : {static_cast<QWidget *>(box), static_cast<QWidget *>(flag), static_cast<QWidget *>(buzzer)}) {
      QCOMPARE(paramBoxState(w), ParamState::NotRead);
      QCOMPARE(w->toolTip(), QStringLiteral("未读取"));
    }
    QVERIFY(box->font().italic());

    QVERIFY(openLan(f, plant.peer.port()));
    click(f, "Button5");  // 读
    QVERIFY(waitFor([&] { return box->text() == QStringLiteral("222"); }, 3000));
    QCOMPARE(paramBoxState(box), ParamState::Read);
    QCOMPARE(box->toolTip(), QString());
    QVERIFY(!box->font().italic());
    QCOMPARE(paramBoxState(control<QLineEdit>(f, "Edit6")), ParamState::NotRead);

    // the operator's edit, not written
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, "5");
    QCOMPARE(box->text(), QStringLiteral("225"));
    QCOMPARE(paramBoxState(box), ParamState::Edited);
    QCOMPARE(box->toolTip(), QStringLiteral("已修改，未写入"));
    QTest::mouseClick(flag, Qt::LeftButton);
    QCOMPARE(paramBoxState(flag), ParamState::Edited);

    // the controller refuses the write: the box says so until a read
    refuse = true;
    click(f, "Button6");  // 写
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("设置失败"); }, 3000));
    QCOMPARE(paramBoxState(box), ParamState::Refused);
    QCOMPARE(box->toolTip(), QStringLiteral("设置失败：控制器拒绝该值"));
    QVERIFY(box->styleSheet().contains(QStringLiteral("border")));
    refuse = false;
    click(f, "Button5");
    QVERIFY(waitFor([&] { return paramBoxState(box) == ParamState::Read; }, 3000));
    QCOMPARE(box->text(), QStringLiteral("222"));

    // a write the controller takes
    QTest::keyClicks(box, "1");
    QCOMPARE(paramBoxState(box), ParamState::Edited);
    click(f, "Button6");
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("设置成功"); }, 3000));
    QCOMPARE(paramBoxState(box), ParamState::Read);

    // another link: nothing is read on it yet, on either page
    click(f, "Button29");
    QVERIFY(!f.linkOpen);
    QVERIFY(openLan(f, plant.peer.port()));
    for (const char *name : {"Edit5", "CheckBox1", "ComboBox3"})
      QCOMPARE(paramBoxState(control<QWidget>(f, name)), ParamState::NotRead);
    for (const ParamRow &row : params::page2Rows())
      QCOMPARE(paramBoxState(control<QWidget>(f, row.control)), ParamState::NotRead);

    // the screenshot: one box read, one refused, the rest not read
    click(f, "Button5");
    QVERIFY(waitFor([&] { return paramBoxState(box) == ParamState::Read; }, 3000));
    auto *refused = control<QLineEdit>(f, "Edit6");
    refused->setText(QStringLiteral("300"));
    refuse = true;
    click(f, "Button8");
    QVERIFY(waitFor([&] { return paramBoxState(refused) == ParamState::Refused; }, 3000));
    refuse = false;
    QTest::keyClicks(control<QLineEdit>(f, "Edit7"), "9");
    shot(f, designWindow(), 0, "page1-states.png");
  }

  // ---- 3. the module grid colours faults

  void moduleToneRows_data() {
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QList<int>>("tones");  // columns 1..6
    using T = ModuleTone;
    const int P = int(T::Plain), F = int(T::Fault), W = int(T::Warning), A = int(T::Absent);
    QTest::newRow("running") << 0 << 0 << QList<int>{P, P, P, P, P, P};
    QTest::newRow("protection") << 0x20 << 0 << QList<int>{P, P, P, F, P, P};
    QTest::newRow("short circuit") << 0x24 << 3 << QList<int>{P, P, P, F, P, P};
    QTest::newRow("fault code alone") << 0 << 1 << QList<int>{P, P, P, F, P, P};
    QTest::newRow("fan") << 0x10 << 0 << QList<int>{P, P, P, P, W, P};
    QTest::newRow("limiting") << 0x01 << 0 << QList<int>{P, P, P, P, P, W};
    QTest::newRow("absent") << 0x80 << 0 << QList<int>{A, A, A, A, A, A};
  }
  void moduleToneRows() {
    QFETCH(int, bits);
    QFETCH(int, fault);
    QFETCH(QList<int>, tones);
    status::ModuleRecord m = status::noModules()[1];
    m.present = (bits & 0x80) == 0;
    m.status = uint8_t(bits);
    m.fault = uint8_t(fault);
    for (int c = 1; c <= 6; ++c) QCOMPARE(int(moduleTone(m, c)), tones[c - 1]);
  }

  void moduleGridColoursFaults() {
    MessageRecorder boxes;
    ScriptedPlant plant;
    plant.modules = {1, 2, 3, 4};
    plant.moduleState[1] = {0x24, 3};  // short circuit
    plant.moduleState[2] = {0x10, 0};  // fan
    plant.moduleState[3] = {0x01, 0};  // limiting
    TestForm f;
    QVERIFY(pollPlant(f, plant));
    TStringGrid *grid = f.StringGrid2;
    QVERIFY(waitFor([&] { return grid->Cells(4, 1) == QStringLiteral("短路"); }, 3000));
    QTest::qWait(300);  // the grid's next repaint
    auto colour = [&](int c, int r) { return grid->item(r, c)->foreground().color(); };
    const QColor plain = grid->palette().color(QPalette::Text);
    QCOMPARE(colour(4, 1), toneColour(ModuleTone::Fault, plain));
    QVERIFY(grid->item(1, 4)->font().bold());
    QCOMPARE(colour(5, 2), toneColour(ModuleTone::Warning, plain));
    QCOMPARE(colour(6, 3), toneColour(ModuleTone::Warning, plain));
    QCOMPARE(colour(4, 4), plain);
    QCOMPARE(colour(1, 5), toneColour(ModuleTone::Absent, plain));
    QCOMPARE(grid->Cells(1, 5), QStringLiteral("不在位"));  // the texts as designed
    // the fault clears: plain again
    plant.moduleState[1] = {0, 0};
    QVERIFY(waitFor([&] { return grid->Cells(4, 1) == QStringLiteral("正常") && colour(4, 1) == plain; }, 3000));
    plant.moduleState[1] = {0x24, 3};
    QVERIFY(waitFor([&] { return colour(4, 1) != plain; }, 3000));
    shot(f, designWindow(), 1, "status-grid-faults.png");
  }

  // ---- 4. one clock

  void oneClockEverywhere() {
    MessageRecorder boxes;
    ScriptedPlant plant;
    TestForm f;
    f.monitorClock = [] { return kT0; };
    f.clockSource = [] { return QDateTime::fromMSecsSinceEpoch(kT0, Qt::UTC); };
    f.Memo1->setStampClock([] { return kT0 + 5; });
    QVERIFY(pollPlant(f, plant));
    // 最后应答
    QVERIFY(waitFor([&] {
      return control<QLabel>(f, "LabelLastAnswer")->text() == QStringLiteral("最后应答：08:00:00 (UTC+8)");
    }, 3000));
    // the journal: its rows and its heading
    plant.status[17] = 0x04;
    QVERIFY(waitFor([&] { return f.AlarmJournal->model()->rowCount() == 1; }, 3000));
    QCOMPARE(f.AlarmJournal->model()->index(0, 0).data().toString(), QStringLiteral("2024-03-05 08:00:00"));
    QCOMPARE(f.AlarmJournal->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("时间(UTC+8)"));
    // the status bar's clock
    f.Timer6Timer();
    QCOMPARE(f.panelText(2), QStringLiteral("2024-03-05 08:00:00"));
    QCOMPARE(f.StatusPanels[2]->toolTip(), QStringLiteral("时间(UTC+8)"));
    // the trend's readout and axis, the recording and the exports
    QVERIFY(f.TrendChart->readoutAt(kT0).startsWith(QStringLiteral("2024-03-05 08:00:00 (UTC+8)")));
    QCOMPARE(recording::header().first(), QStringLiteral("时间(UTC+8)"));
    std::array<trend::Series, 1> one;
    one[0].add(kT0, 1);
    QCOMPARE(trend::tableRows(one, kT0, kT0)[1].first(), QStringLiteral("2024-03-05 08:00:00"));
    // the log, when it shows times
    action(f, "actionLogStamps")->trigger();
    QVERIFY(memoLines(f).last().startsWith(QStringLiteral("08:00:00.005 ")));
  }

  // ---- 5. it fits

  void fitsTheScreen_data() {
    QTest::addColumn<QRect>("available");
    QTest::addColumn<bool>("noHorizontalBar");
    QTest::newRow("1366x768, a 40 px taskbar") << QRect(0, 0, 1366, 728) << true;
    QTest::newRow("800x600") << QRect(0, 0, 800, 600) << false;
    QTest::newRow("800x600, a 40 px taskbar") << QRect(0, 0, 800, 560) << false;
  }
  void fitsTheScreen() {
    QFETCH(QRect, available);
    QFETCH(bool, noHorizontalBar);
    MessageRecorder boxes;
    TestForm f;
    const QRect opening = TestForm::initialGeometry(available);
    f.move(opening.topLeft());
    f.resize(opening.size());
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QCOMPARE(f.size(), opening.size());
    // the whole frame on the screen, title bar and borders included
    const QSize frame(TestForm::kFrameAllowanceWidth, TestForm::kFrameAllowanceHeight);
    QVERIFY(available.contains(QRect(opening.topLeft(), f.size() + frame)));
    // the status bar inside the window, shown
    QVERIFY(f.statusBar()->isVisible());
    QVERIFY2(f.rect().contains(f.statusBar()->geometry()),
             qPrintable(QStringLiteral("%1x%2 bar %3,%4 %5x%6").arg(f.width()).arg(f.height()).arg(f.statusBar()->x())
                            .arg(f.statusBar()->y()).arg(f.statusBar()->width()).arg(f.statusBar()->height())));
    QVERIFY(f.StatusPanels[2]->geometry().right() < f.statusBar()->width());  // the clock's panel too
    auto *scroll = qobject_cast<QScrollArea *>(f.centralWidget());
    QVERIFY(scroll);
    if (noHorizontalBar) QVERIFY(!scroll->horizontalScrollBar()->isVisible());
  }

  // At the design size, every caption fits its control on every page.
  void noCaptionIsCut() {
    MessageRecorder boxes;
    TestForm f;
    f.resize(designWindow());
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QStringList cut;
    for (int page = 0; page < f.PageControl1->count(); ++page) {
      f.PageControl1->setCurrentIndex(page);
      QCoreApplication::processEvents();
      for (QWidget *w : f.clientArea()->findChildren<QWidget *>()) {
        if (!w->isVisible()) continue;
        const QFontMetrics fm = w->fontMetrics();
        int need = 0, room = 0;
        if (auto *l = qobject_cast<QLabel *>(w); l && !l->text().isEmpty() && !l->wordWrap()) {
          need = fm.horizontalAdvance(l->text());
          room = l->contentsRect().width() - 2 * l->margin();
        } else if (auto *b = qobject_cast<QPushButton *>(w); b && !b->text().isEmpty()) {
          need = fm.horizontalAdvance(b->text()) + 8;
          room = b->width();
        } else if (auto *c = qobject_cast<QAbstractButton *>(w);
                   c && (qobject_cast<QCheckBox *>(w) || qobject_cast<QRadioButton *>(w)) && !c->text().isEmpty()) {
          need = c->sizeHint().width();
          room = c->width();
        }
        if (need > room) cut << QStringLiteral("%1 \"%2\" %3>%4").arg(w->objectName(), w->property("text").toString()).arg(need).arg(room);
      }
    }
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("; "))));
  }

  // From the smallest window to 2560x1440, no two controls of one page or of the window
  // cover each other.
  void nothingOverlaps_data() {
    QTest::addColumn<QSize>("window");
    QTest::newRow("800x600") << QSize(784, 560);
    QTest::newRow("design size") << designWindow();
    QTest::newRow("1366x768") << QSize(1350, 688);
    QTest::newRow("1920x1080") << QSize(1904, 1000);
    QTest::newRow("2560x1440") << QSize(2544, 1360);
  }
  void nothingOverlaps() {
    QFETCH(QSize, window);
    MessageRecorder boxes;
    TestForm f;
    f.resize(window);
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QStringList overlaps;
    auto check = [&](QWidget *parent) {
      QList<QWidget *> shown;
      for (QObject *o : parent->children())
        if (auto *w = qobject_cast<QWidget *>(o); w && w->isVisible() && !w->isWindow() && !w->objectName().isEmpty())
          shown << w;
      for (int i = 0; i < shown.size(); ++i)
        for (int j = i + 1; j < shown.size(); ++j)
          if (shown[i]->geometry().intersects(shown[j]->geometry()))
            overlaps << QStringLiteral("%1/%2").arg(shown[i]->objectName(), shown[j]->objectName());
    };
    check(f.clientArea());
    for (int page = 0; page < f.PageControl1->count(); ++page) {
      f.PageControl1->setCurrentIndex(page);
      QCoreApplication::processEvents();
      QWidget *sheet = f.PageControl1->widget(page);
      check(sheet);
      // nothing beyond its page
      for (QObject *o : sheet->children())
        if (auto *w = qobject_cast<QWidget *>(o); w && w->isVisible() && !sheet->rect().contains(w->geometry()))
          overlaps << QStringLiteral("%1 outside %2").arg(w->objectName(), sheet->objectName());
    }
    QVERIFY2(overlaps.isEmpty(), qPrintable(overlaps.join(QStringLiteral("; "))));
  }

  // ---- 6. a log a field engineer can read

  void logShowsTimesAndDirections() {
    MessageRecorder boxes;
    ScriptedPlant plant;
    TestForm f;
    f.Memo1->setStampClock([] { return kT0 + 123; });
    QVERIFY(pollPlant(f, plant));
    click(f, "Button29");  // closed: the log stands still
    QVERIFY(!f.linkOpen);
    QStringList lines = memoLines(f);
    QVERIFY(lines.size() > 4);
    QVERIFY(!lines[0].startsWith(QStringLiteral("08:")));  // off: the lines as designed
    QAction *stamps = action(f, "actionLogStamps");
    QVERIFY(f.Memo1->actions().contains(stamps));
    QVERIFY(stamps->isCheckable() && !stamps->isChecked());
    QCOMPARE(stamps->text(), QStringLiteral("显示时间和方向"));

    stamps->trigger();
    const QStringList shown = memoLines(f);
    QCOMPARE(shown.size(), lines.size());
    QCOMPARE(shown[0], QStringLiteral("08:00:00.123 → ") + lines[0]);  // the status read going out
    QCOMPARE(shown[1], QStringLiteral("08:00:00.123 ← ") + lines[1]);  // its answer coming in
    QVERIFY(shown.filter(QStringLiteral(" → ")).size() >= 3);

    // the saved log is what the log shows
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    f.saveLogPath = [&] { return path; };
    action(f, "actionSaveLog")->trigger();
    waitForWrites();
    QCOMPARE(QString::fromUtf8(fileBytes(path)), shown.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    stamps->trigger();
    QCOMPARE(memoLines(f), lines);
  }

  // ---- 7. small things

  void staleControllerMakesJournalRows() {
    MessageRecorder boxes;
    ScriptedPlant plant;
    TestForm f;
    QVERIFY(pollPlant(f, plant));
    plant.mute = true;
    QVERIFY(waitFor([&] { return journalEvents(f).contains(QStringLiteral("通讯 告警 通讯中断：控制器 3 s 无应答")); }, 8000));
    plant.mute = false;
    QVERIFY(waitFor([&] { return journalEvents(f).contains(QStringLiteral("通讯 恢复 控制器恢复应答")); }, 8000));
    QCOMPARE(journalEvents(f).size(), 2);
  }

  void journalColoursAndCurrentAlarms() {
    MessageRecorder boxes;
    ScriptedPlant plant;
    TestForm f;
    QVERIFY(pollPlant(f, plant));
    plant.status[17] = 0x04;  // door
    QVERIFY(waitFor([&] { return journalEvents(f).size() == 1; }, 3000));
    plant.ac[4] = 0x01;  // AC power failure
    QVERIFY(waitFor([&] { return journalEvents(f).size() == 2; }, 3000));
    plant.status[17] = 0;
    QVERIFY(waitFor([&] { return journalEvents(f).size() == 3; }, 3000));
    const QAbstractItemModel *m = f.AlarmJournal->model();
    const QColor raised = m->index(0, 0).data(Qt::BackgroundRole).value<QColor>();
    const QColor cleared = m->index(2, 3).data(Qt::BackgroundRole).value<QColor>();
    QVERIFY(raised.red() > raised.green() && cleared.green() > cleared.red());
    QCOMPARE(m->index(1, 2).data(Qt::BackgroundRole).value<QColor>(), raised);

    auto *only = control<QCheckBox>(f, "CheckBoxActiveAlarms");
    QCOMPARE(only->text(), QStringLiteral("只看当前告警"));
    only->click();
    QCOMPARE(journalEvents(f), QStringList{QStringLiteral("交流 告警 掉电")});
    plant.ac[4] = 0;  // cleared: no alarm is raised now
    QVERIFY(waitFor([&] { return journalEvents(f).isEmpty(); }, 3000));
    plant.status[17] = 0x04;
    QVERIFY(waitFor([&] { return journalEvents(f) == QStringList{QStringLiteral("门禁 告警 ")}; }, 3000));
    only->click();
    QCOMPARE(journalEvents(f).size(), 5);
  }

  void portListIsReadWhenOpened() {
    MessageRecorder boxes;
    QStringList ports{QStringLiteral("/dev/ttyS0")};
    SetPortListHook([&] { return std::optional<QStringList>(ports); });
    {
      TestForm f;
      f.show();
      QCOMPARE(f.ComboBox1->count(), 1);
      QCOMPARE(f.ComboBox1->currentText(), QStringLiteral("/dev/ttyS0"));
      ports << QStringLiteral("/dev/ttyUSB0");  // plugged in after start-up
      f.ComboBox1->showPopup();
      QCOMPARE(f.ComboBox1->count(), 2);
      QCOMPARE(f.ComboBox1->itemText(1), QStringLiteral("/dev/ttyUSB0"));
      QCOMPARE(f.ComboBox1->currentText(), QStringLiteral("/dev/ttyS0"));  // the choice stays
      f.ComboBox1->hidePopup();
      ports.clear();  // unplugged: a typed name stays typed
      f.ComboBox1->setEditText(QStringLiteral("/dev/ttyUSB0"));
      f.ComboBox1->showPopup();
      QCOMPARE(f.ComboBox1->count(), 0);
      QCOMPARE(f.ComboBox1->currentText(), QStringLiteral("/dev/ttyUSB0"));
      f.ComboBox1->hidePopup();
    }
    SetPortListHook({});
  }

  void qtTextsInChinese() {
    MessageRecorder boxes;
    TestForm f;  // building the window loads them
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    const QString yes = box.button(QMessageBox::Yes)->text();
    QVERIFY2(!yes.contains(QStringLiteral("Yes")), qPrintable(yes));
    QVERIFY(yes.contains(QChar(0x662F)));  // 是
  }
};

QTEST_MAIN(TestReadable)
#include "test_readable.moc"
