// Named entry points of the energy page's four total rows: button, caption, decoder, CID2
// of the request (CID1 0x44) and the grid row the answer fills. One body serves them all
// (pages/Energy.cpp); the month record has its own pair, Button97Click / Read_MonthRecord.
#pragma once

#define ENERGY_TOTAL_ROWS(X)                               \
  X(Button94, "获取当天", Read_DayEnergy, 0x0E, 13)        \
  X(Button95, "获取当月", Read_MonthEnergy, 0x0F, 14)      \
  X(Button96, "获取当年", Read_YearEnergy, 0x10, 15)       \
  X(Button98, "总发电量", Read_AllEnergy, 0x0D, 16)
