// Named entry points of the energy page's four total rows: button, caption, decoder, the
// request's command in the catalogue (protocol/Commands.h) and the grid row the answer fills. One body serves them all
// (pages/Energy.cpp); the month record has its own pair, Button97Click / Read_MonthRecord.
#pragma once

#define ENERGY_TOTAL_ROWS(X)                               \
  X(Button94, "获取当天", Read_DayEnergy, EnergyToday, 13)        \
  X(Button95, "获取当月", Read_MonthEnergy, EnergyThisMonth, 14)      \
  X(Button96, "获取当年", Read_YearEnergy, EnergyThisYear, 15)       \
  X(Button98, "总发电量", Read_AllEnergy, EnergyTotal, 16)
