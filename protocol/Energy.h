// The energy counters as the host shows them. An energy figure is four data bytes, a 32-bit
// unsigned big-endian count of 0.1 kWh; each user also has a share in whole percent.
//   totals (0x44 / 0x0D, 0x0E, 0x0F, 0x10), 20 bytes: users 1-4 energy (4 bytes each),
//     then users 1-4 percentage (1 byte each)
//   month (0x44 / 0x01), 23 bytes: the month (BCD), the same 20 bytes, the current year
//     counted from 2000 and the current month (both plain numbers)
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace energy {

// The energy grid's row titles: the totals' rows 13 to 16 ("当天", "当月", "当年", "累计"), and
// a month's row once its record was read ("2024-5").
QString totalTitle(int row);
QString monthTitle(int year, int month);

constexpr int kTotalBytes = 20;
constexpr int kMonthBytes = 23;

uint32_t figure(const uint8_t *fourBytes);
// "1234.5度25%": the figure in kWh in the general number format, "度", the percentage, "%".
QString cellText(uint32_t figure, int percent);
// A BCD month byte 0x01-0x09, 0x10-0x12 as 1-12; anything else has no month.
std::optional<int> bcdMonth(uint8_t byte);
// The year a month record belongs to: the current year, or the year before when the month
// has not yet come round this year (the current month counts as last year's).
int recordYear(int yearFrom2000, int currentMonth, int month);

}  // namespace energy
