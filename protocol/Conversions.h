// Conversions between the texts of the parameter boxes and their wire form.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

namespace proto {

// Decimal text times scale, truncated, for a fixed-point parameter ("53.25" at 100 -> 5325).
// Leading blanks are skipped; there is no sign. The value saturates instead of wrapping, so
// an absurdly long text can never come out as a small number. A point without a digit on
// either side (".") is no number.
struct FixedPoint {
  enum Error { Ok, Empty, Blank, BadInteger, BadFraction, NoDigits } error = Ok;
  int64_t value = 0;
  QChar badChar;  // the first offending character for BadInteger and BadFraction
};
FixedPoint parseFixedPoint(const QString &text, int scale);

// At least four upper-case hex digits; a negative value as its 32-bit two's complement.
QString intto4char(int value);

// Text with "0" put in front until it is width characters long; a longer text is kept whole.
QString straddzero(const QString &text, int width);

// The low byte of value as two upper-case hex digits (0x0E -> "0E", 300 -> "2C"): CIDs and
// data bytes as the request boxes take them.
QString hex2(int value);

// General decimal format: up to 15 significant digits, no trailing zeros, no point for
// whole values ("220", "220.5", "0.05", "-1").
QString formatGeneral(double value);
// The same text as plain bytes, for callers that build byte strings (the exporter's page).
std::string formatGeneralText(double value);

}  // namespace proto
