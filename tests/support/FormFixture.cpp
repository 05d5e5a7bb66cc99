#include "support/FormFixture.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QWidget>

#include "protocol/Commands.h"
#include "protocol/Frame.h"
#include "sim/launch/Powersim.h"
#include "window/HandlerSupport.h"
#include "window/ProtocolLog.h"
#include "window/WholeFile.h"

namespace testsupport {

MessageRecorder::MessageRecorder() {
  SetMessageBoxHook([this](const QString &t, const QString &c) { boxes.append({t, c}); });
  SetYesNoHook([this](const QString &q) {
    questions << q;
    return answerYes;
  });
}
MessageRecorder::~MessageRecorder() {
  SetMessageBoxHook({});
  SetYesNoHook({});
}
bool MessageRecorder::saw(const QString &t, const QString &c) const { return boxes.contains(qMakePair(t, c)); }

SaveAs::SaveAs(const QString &path) {
  SetSaveFileNameHook([path](const QString &, const QString &) { return path; });
}
SaveAs::~SaveAs() { SetSaveFileNameHook({}); }

OpenFrom::OpenFrom(const QString &path) {
  SetOpenFileNameHook([path](const QString &) { return path; });
}
OpenFrom::~OpenFrom() { SetOpenFileNameHook({}); }

void waitForWrites() {
  if (!waitFor([] { return writesInBackground() == 0; }, 60000)) qFatal("a file write never ended");
}

QStringList memoLines(const TestForm &form) {
  // the lines logged so far are shown within the log's batch period
  if (!waitFor([&] { return !form.Memo1->hasPending(); }, 5000)) qFatal("the protocol log never showed its lines");
  const QAbstractItemModel *model = form.Memo1->model();
  QStringList lines;
  for (int row = 0; row < model->rowCount(); ++row) lines << model->index(row, 0).data(Qt::DisplayRole).toString();
  return lines;
}

QString lastMemoLine(const TestForm &form) {
  const QStringList lines = memoLines(form);
  return lines.isEmpty() ? QString() : lines.last();
}

QString requestText(std::string_view frame) {
  const proto::FrameParse p = proto::parseFrame(frame);
  QString s = QStringLiteral("%1/%2").arg(p.frame.cid1, 2, 16, QLatin1Char('0')).arg(p.frame.cid2OrRtn, 2, 16, QLatin1Char('0'));
  for (uint8_t b : p.frame.data) s += QStringLiteral(" %1").arg(b, 2, 16, QLatin1Char('0'));
  return s.toUpper();
}

QString lastRequest(const TestForm &form) {
  return requestText(std::string_view(form.txBuffer, static_cast<size_t>(form.txLength)));
}

void feed(TestForm &form, const QByteArray &chunk) {
  Exchange &x = form.exchange();
  if (!x.onLine() && x.inStep() && x.waiting() == 0 && form.txLength > 0) {
    // the request built last, as if it had been sent
    Exchange::Request r;
    r.frame.assign(form.txBuffer, static_cast<size_t>(form.txLength));
    r.cid1 = static_cast<uint8_t>(form.pendingCid1);
    r.cid2 = static_cast<uint8_t>(form.pendingCid2);
    x.submit(std::move(r));
  }
  form.receiveChunk(nullptr, chunk.constData(), chunk.size());
}

QByteArray shaped(int cid1, int cid2, const QByteArray &pattern) {
  const proto::AnswerShape s = proto::answerShape(uint8_t(cid1), uint8_t(cid2));
  if (s.kind == proto::AnswerShape::Any) return pattern;
  QByteArray data;
  for (int i = 0; s.kind == proto::AnswerShape::Fixed && i < s.bytes; ++i)
    data.append(pattern.isEmpty() ? '\0' : pattern[i % pattern.size()]);
  return data;
}

QByteArray answer(uint8_t cid1, uint8_t rtn, const QByteArray &data, uint8_t adr) {
  std::vector<uint8_t> bytes(data.begin(), data.end());
  return QByteArray::fromStdString(proto::encodeFrame(adr, cid1, rtn, bytes));
}

QByteArray sealed(const QByteArray &text) {
  const uint8_t sum = proto::checksum(std::string_view(text.constData(), static_cast<size_t>(text.size())).substr(1));
  return text + proto::nibbleChar(sum >> 4) + proto::nibbleChar(sum) + proto::kEndMark;
}

template <class W>
static W *find(const TestForm &form, const char *name) {
  W *w = form.findChild<W *>(QString::fromLatin1(name));
  if (!w) qFatal("no control %s", name);
  return w;
}

QString text(const TestForm &form, const char *name) { return find<QLineEdit>(form, name)->text(); }
void setText(TestForm &form, const char *name, const QString &value) { find<QLineEdit>(form, name)->setText(value); }
bool checked(const TestForm &form, const char *name) { return find<QCheckBox>(form, name)->isChecked(); }
int comboIndex(const TestForm &form, const char *name) { return find<QComboBox>(form, name)->currentIndex(); }
QComboBox *combo(const TestForm &form, const char *name) { return form.findChild<QComboBox *>(QString::fromLatin1(name)); }
void click(TestForm &form, const char *buttonName) { find<QAbstractButton>(form, buttonName)->click(); }

void readAndAnswer(TestForm &form, const char *button, uint8_t rtn, const QByteArray &data) {
  click(form, button);
  feed(form, answer(uint8_t(form.pendingCid1), rtn, data));
}

Built built(const TestForm &f) {
  auto p = proto::parseFrame(std::string_view(f.txBuffer, static_cast<size_t>(f.txLength)));
  return {p.frame.cid1, p.frame.cid2OrRtn,
          QByteArray(reinterpret_cast<const char *>(p.frame.data.data()), static_cast<int>(p.frame.data.size()))};
}

void pretendOpen(TestForm &f) {
  f.linkOpen = true;
  f.serialLink = false;
  f.lanConnected = false;
}

QByteArray bytes(std::initializer_list<int> values) {
  QByteArray out;
  for (int v : values) out.append(char(v));
  return out;
}

QStringList requestLines(const TestForm &form) {
  QStringList all = memoLines(form), out;
  for (int i = 0; i < all.size(); i += 3) out << all[i];
  return out;
}

QString requestLine(int cid1, int cid2, const QByteArray &data) {
  std::vector<uint8_t> d(data.begin(), data.end());
  return QString::fromLatin1(
      proto::hexLogLine(proto::encodeFrame(1, static_cast<uint8_t>(cid1), static_cast<uint8_t>(cid2), d)));
}

void screenshot(TestForm &form, int page, const char *file) {
  const QString folder = qEnvironmentVariable("POWERHOST_SCREENSHOTS");
  if (folder.isEmpty()) return;
  form.PageControl1->setCurrentIndex(page);
  // at the design size, whatever room the test platform's screen offers
  form.resize(TestForm::kDesignClientWidth, TestForm::kDesignClientHeight + TestForm::kStatusBarHeight);
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  QTest::qWait(200);  // let the page paint
  QVERIFY(form.grab().save(folder + QLatin1Char('/') + QLatin1String(file)));
}

bool openLan(TestForm &form, quint16 port) {
  form.RadioButton2->click();
  setText(form, "Edit13", QStringLiteral("127.0.0.1"));
  setText(form, "Edit12", QString::number(port));
  click(form, "Button29");
  return waitFor([&] { return form.lanConnected; }, 5000);
}

bool openLan(TestForm &form, const simlaunch::Powersim &sim) { return sim.ok() && openLan(form, sim.port()); }

void openSerial(TestForm &form, const QString &path) {
  form.RadioButton1->click();
  form.ComboBox1->setEditText(path);
  click(form, "Button29");
}

QMap<QString, QRect> namedGeometries(const QWidget &root) {
  QMap<QString, QRect> out;
  for (const QWidget *w : root.findChildren<QWidget *>())
    if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_")))
      out.insert(w->objectName(), w->geometry());
  return out;
}

}  // namespace testsupport
