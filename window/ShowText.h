// Showing a reading in a control.
#pragma once

#include <QString>

// Shows a text in a control (a line edit, a label, a grid cell): a text it already shows is
// left alone, so an unchanged reading is not laid out, announced or painted again.
template <class Control>
void showText(Control *control, const QString &text) {
  if (control->text() != text) control->setText(text);
}
