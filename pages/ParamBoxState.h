// Whether a parameter box holds what the controller has. A box starts with its design's
// start text and shows it as not read on this link (grey italics, tooltip "未读取"); a read
// or a write the controller accepted makes it plain; the operator's edit not yet written
// gives it a pale yellow ground ("已修改，未写入"); a write the controller refused gives it a
// red frame ("设置失败：控制器拒绝该值") until a read or a good write. Opening a link marks
// every box not read again.
//
// The state is kept on the control itself (a property), so the pages need no table of it; a
// write's request carries its box's number (boxNumber) to the answer.
#pragma once

#include <QString>

class QWidget;

enum class ParamState { NotRead, Read, Edited, Refused };

// Makes `control` a parameter box, not read; the operator's edits mark it Edited.
void watchParamBox(QWidget *control);
void markParamBox(QWidget *control, ParamState state);
// NotRead for a control that is not a parameter box.
ParamState paramBoxState(const QWidget *control);
// Every parameter box among root's children.
void markAllParamBoxes(QWidget *root, ParamState state);
// The tooltip of a state ("" for Read).
QString paramStateText(ParamState state);

// A box's number, for a request to carry to its answer (never 0), and the box it names
// (nullptr when it names none, or the box is gone).
int boxNumber(QWidget *control);
QWidget *boxOfNumber(int number);
