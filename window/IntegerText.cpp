#include "window/IntegerText.h"

#include <limits>

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
