// The controller's alarm history as the host shows it: one record is eight data bytes,
//   0-5  year (within the century), month, day, hour, minute, second, two BCD digits each
//   6    record type: 1 AC, 2 environment, 3 DC system, 4-8 a rectifier module's fault
//   7    the event code (types 1-3) or the module number (types 4-8)
// An answer whose six time-stamp bytes are all zero holds no record (an erased slot).
#pragma once

#include <QString>
#include <cstdint>

namespace history {

constexpr int kRecordBytes = 8;

// "2024-05-17 08:30:15": each byte as two upper-case hexadecimal digits, so BCD reads as
// decimal; bytes that are not BCD are shown as they came.
QString timeText(const uint8_t *record);
// The event of a type and code; empty for a type or code the controller does not define.
QString eventText(int type, int code);
bool isEmpty(const uint8_t *record);

}  // namespace history
