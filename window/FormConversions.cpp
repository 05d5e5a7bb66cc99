// chartofloat with the messages the operator sees.
#include "protocol/Conversions.h"
#include "window/Unit1.h"
#include "window/HandlerSupport.h"

#include <limits>

int TForm1::chartofloat(const QString &text, int scale, bool *ok) {
  const proto::FixedPoint r = proto::parseFixedPoint(text, scale);
  if (ok) *ok = r.error == proto::FixedPoint::Ok;
  switch (r.error) {
    case proto::FixedPoint::Ok:
      return static_cast<int>(std::min<int64_t>(r.value, std::numeric_limits<int>::max()));
    case proto::FixedPoint::Empty:
      ShowMessageBox(QStringLiteral("Data error"), QStringLiteral("error"));
      return 0;
    case proto::FixedPoint::Blank:
      return 0;
    case proto::FixedPoint::BadInteger:
      log(QStringLiteral("err") + r.badChar);
      ShowMessageBox(QStringLiteral("Data error"), QStringLiteral("error2"));
      return 0;
    case proto::FixedPoint::BadFraction:
      log(QString(r.badChar));
      ShowMessageBox(QStringLiteral("Data error"), QStringLiteral("error3"));
      return 0;
  }
  return 0;
}
