// The energy counters as the host shows them: protocol/Energy.h.
#pragma once

#include "protocol/Energy.h"
