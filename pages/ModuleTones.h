// How the module grid marks what needs a look: a fault or protection text in red, the fan
// and current-limiting states in amber, a module that is not fitted dimmed. The texts stay
// as the grid writes them; only their colour says more.
#pragma once

#include <QColor>

#include "protocol/Status.h"

class TStringGrid;

enum class ModuleTone { Plain, Fault, Warning, Absent };

// The tone of column 1..6 of a module's row (0 and others: Plain, or Absent for a module not
// fitted).
ModuleTone moduleTone(const status::ModuleRecord &m, int column);
// The text colour of a tone; Plain is the grid's own text colour.
QColor toneColour(ModuleTone tone, const QColor &plain);
// Colours row `row` of the grid as module m's tones.
void toneModuleRow(TStringGrid &grid, int row, const status::ModuleRecord &m);
