// chartofloat with the messages the operator sees.
#include "protocol/Conversions.h"
#include "window/Unit1.h"
#include "window/HandlerSupport.h"

#include <limits>

int TForm1::chartofloat(const QString &text, int scale, bool *ok, const QString &detail) {
  const proto::FixedPoint r = proto::parseFixedPoint(text, scale);
  if (ok) *ok = r.error == proto::FixedPoint::Ok;
  // the message's first line is the conversion's own; the caller may say more on a second
  const QString dataError = detail.isEmpty() ? QStringLiteral("Data error") : QStringLiteral("Data error\n") + detail;
  switch (r.error) {
    case proto::FixedPoint::Ok:
      return static_cast<int>(std::min<int64_t>(r.value, std::numeric_limits<int>::max()));
    case proto::FixedPoint::Empty:
    case proto::FixedPoint::NoDigits:  // "." alone: no number, as an empty text
      ShowMessageBox(dataError, QStringLiteral("error"));
      return 0;
    case proto::FixedPoint::Blank:
      return 0;
    case proto::FixedPoint::BadInteger:
      log(QStringLiteral("err") + r.badChar);
      ShowMessageBox(dataError, QStringLiteral("error2"));
      return 0;
    case proto::FixedPoint::BadFraction:
      log(QString(r.badChar));
      ShowMessageBox(dataError, QStringLiteral("error3"));
      return 0;
  }
  return 0;
}
