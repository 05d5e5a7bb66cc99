#include "pages/ParamBoxState.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QVariant>

#include <vector>

namespace {

constexpr char kState[] = "paramState";
constexpr char kNumber[] = "paramBoxNumber";
// Numbers a request can carry, apart from the small ones other requests use (a module, a
// contact).
constexpr int kFirstNumber = 0x10000;

std::vector<QPointer<QWidget>> &numbered() {
  static std::vector<QPointer<QWidget>> boxes;
  return boxes;
}

QString styleOf(ParamState state) {
  switch (state) {
    case ParamState::NotRead: return QStringLiteral("color: #808080; font-style: italic;");
    case ParamState::Edited: return QStringLiteral("background-color: #fff3c4;");
    case ParamState::Refused: return QStringLiteral("border: 2px solid #d00000;");
    case ParamState::Read: break;
  }
  return QString();
}

}  // namespace

QString paramStateText(ParamState state) {
  switch (state) {
    case ParamState::NotRead: return QStringLiteral("未读取");
    case ParamState::Edited: return QStringLiteral("已修改，未写入");
    case ParamState::Refused: return QStringLiteral("设置失败：控制器拒绝该值");
    case ParamState::Read: break;
  }
  return QString();
}

void markParamBox(QWidget *control, ParamState state) {
  if (!control || !control->property(kState).isValid()) return;
  if (control->property(kState).toInt() == int(state)) return;
  control->setProperty(kState, int(state));
  control->setStyleSheet(styleOf(state));
  control->setToolTip(paramStateText(state));
}

ParamState paramBoxState(const QWidget *control) {
  const QVariant v = control ? control->property(kState) : QVariant();
  return v.isValid() ? ParamState(v.toInt()) : ParamState::NotRead;
}

void watchParamBox(QWidget *control) {
  if (!control) return;
  control->setProperty(kState, -1);
  markParamBox(control, ParamState::NotRead);
  auto edited = [control] { markParamBox(control, ParamState::Edited); };
  if (auto *edit = qobject_cast<QLineEdit *>(control)) QObject::connect(edit, &QLineEdit::textEdited, edit, edited);
  if (auto *check = qobject_cast<QCheckBox *>(control)) QObject::connect(check, &QCheckBox::clicked, check, edited);
  if (auto *combo = qobject_cast<QComboBox *>(control)) {
    QObject::connect(combo, &QComboBox::activated, combo, edited);
    if (combo->lineEdit()) QObject::connect(combo->lineEdit(), &QLineEdit::textEdited, combo, edited);
  }
}

void markAllParamBoxes(QWidget *root, ParamState state) {
  if (!root) return;
  for (QWidget *w : root->findChildren<QWidget *>())
    if (w->property(kState).isValid()) markParamBox(w, state);
}

int boxNumber(QWidget *control) {
  if (!control) return 0;
  const QVariant v = control->property(kNumber);
  if (v.isValid()) return v.toInt();
  numbered().emplace_back(control);
  const int number = kFirstNumber + int(numbered().size()) - 1;
  control->setProperty(kNumber, number);
  return number;
}

QWidget *boxOfNumber(int number) {
  const int i = number - kFirstNumber;
  return i >= 0 && size_t(i) < numbered().size() ? numbered()[size_t(i)].data() : nullptr;
}
