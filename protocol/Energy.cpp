#include "protocol/Energy.h"

#include "protocol/Conversions.h"

namespace energy {

uint32_t figure(const uint8_t *b) {
  return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
         (static_cast<uint32_t>(b[2]) << 8) | b[3];
}

QString cellText(uint32_t figure, int percent) {
  return proto::formatGeneral(figure / 10.0) + QStringLiteral("度") + QString::number(percent) + QLatin1Char('%');
}

std::optional<int> bcdMonth(uint8_t byte) {
  const int high = byte >> 4, low = byte & 0x0F;
  if (low > 9) return std::nullopt;
  const int month = high * 10 + low;
  if (month < 1 || month > 12) return std::nullopt;
  return month;
}

int recordYear(int yearFrom2000, int currentMonth, int month) {
  return 2000 + yearFrom2000 - (currentMonth <= month ? 1 : 0);
}

QString totalTitle(int row) {
  static const char *const kTitles[] = {"当天", "当月", "当年", "累计"};
  return row >= 13 && row <= 16 ? QString::fromUtf8(kTitles[row - 13]) : QString();
}

QString monthTitle(int year, int month) { return QString::number(year) + QLatin1Char('-') + QString::number(month); }

}  // namespace energy
