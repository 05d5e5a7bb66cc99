#include "pages/ModuleTones.h"

#include "window/Controls.h"

ModuleTone moduleTone(const status::ModuleRecord &m, int column) {
  const status::ModuleView v = status::moduleView(m);
  if (v.power == status::ModuleView::Power::Absent) return ModuleTone::Absent;
  switch (column) {
    case 4: return v.protection ? ModuleTone::Fault : ModuleTone::Plain;
    case 5: return v.fan ? ModuleTone::Warning : ModuleTone::Plain;
    case 6: return v.limiting ? ModuleTone::Warning : ModuleTone::Plain;
    default: return ModuleTone::Plain;
  }
}

QColor toneColour(ModuleTone tone, const QColor &plain) {
  switch (tone) {
    case ModuleTone::Fault: return QColor(204, 0, 0);
    case ModuleTone::Warning: return QColor(191, 110, 0);
    case ModuleTone::Absent: return QColor(175, 175, 175);
    case ModuleTone::Plain: break;
  }
  return plain;
}

void toneModuleRow(TStringGrid &grid, int row, const status::ModuleRecord &m) {
  const QColor plain = grid.palette().color(QPalette::Text);
  for (int c = 0; c < grid.columnCount(); ++c) {
    const ModuleTone tone = moduleTone(m, c);
    grid.SetCellForeground(c, row, toneColour(tone, plain), tone == ModuleTone::Fault);
  }
}
