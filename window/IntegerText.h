// Decimal text to an integer, as the standard integer conversion does it, with its error.
#pragma once

#include <QString>

#include <stdexcept>

// The conversion error of the standard integer conversion.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Decimal text to a signed 32-bit integer: leading blanks and one sign allowed, nothing
// after the digits. Throws EConvertError "'text' is not a valid integer value".
int StrToInt(const QString &text);
