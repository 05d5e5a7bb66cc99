#include "protocol/Conversions.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace proto {

namespace {
constexpr int64_t kSaturation = int64_t(1) << 40;
int64_t saturate(int64_t v) { return v > kSaturation ? kSaturation : v; }
}  // namespace

FixedPoint parseFixedPoint(const QString &text, int scale) {
  FixedPoint r;
  if (text.isEmpty()) {
    r.error = FixedPoint::Empty;
    return r;
  }
  int i = 0;
  const int n = text.size();
  while (i < n && text[i] == QLatin1Char(' ')) ++i;
  if (i == n) {
    r.error = FixedPoint::Blank;
    return r;
  }
  int64_t value = 0;
  bool digits = false;
  for (; i < n; ++i) {
    QChar c = text[i];
    if (c == QLatin1Char('.')) {
      ++i;
      break;
    }
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
      r.error = FixedPoint::BadInteger;
      r.badChar = c;
      return r;
    }
    value = saturate(value * 10 + (c.unicode() - '0'));
    digits = true;
  }
  int64_t fraction = 0;
  int64_t weight = scale / 10;
  for (; i < n; ++i) {
    QChar c = text[i];
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
      r.error = FixedPoint::BadFraction;
      r.badChar = c;
      return r;
    }
    fraction += (c.unicode() - '0') * weight;
    weight /= 10;
    digits = true;
  }
  if (!digits) {
    r.error = FixedPoint::NoDigits;
    return r;
  }
  r.value = saturate(value * scale + fraction);
  return r;
}

QString intto4char(int value) {
  return QString::number(static_cast<uint32_t>(value), 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

QString straddzero(const QString &text, int width) {
  return text.size() >= width ? text : text.rightJustified(width, QLatin1Char('0'));
}

std::string formatGeneralText(double value) {
  if (value == 0) return "0";  // also keeps "-0" away
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  std::string s(buf, r.ptr);
  if (s.find('e') != std::string::npos) {
    // general format keeps plain digits for the magnitudes shown here; fall back to fixed
    r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 15);
    s.assign(buf, r.ptr);
    if (s.find('.') != std::string::npos) {
      while (s.back() == '0') s.pop_back();
      if (s.back() == '.') s.pop_back();
    }
  }
  return s;
}

QString formatGeneral(double value) { return QString::fromStdString(formatGeneralText(value)); }

QString hex2(int value) { return QString::number(value & 0xFF, 16).toUpper().rightJustified(2, QLatin1Char('0')); }

}  // namespace proto
