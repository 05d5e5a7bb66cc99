// The controller's alarm history as the host shows it: protocol/History.h.
#pragma once

#include "protocol/History.h"
