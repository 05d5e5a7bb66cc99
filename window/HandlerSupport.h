// What every handler of the window may use, in one include: the timer, the integer
// conversion, the boxes and dialogs, the default error display and showing a text.
#pragma once

#include "window/Dialogs.h"
#include "window/ErrorDisplay.h"
#include "window/IntegerText.h"
#include "window/ShowText.h"
#include "window/SteadyTimer.h"
