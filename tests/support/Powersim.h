// The controller simulator as a separate process, for end-to-end tests (sim/launch/Powersim.h).
#pragma once

#include "sim/launch/Powersim.h"

namespace testsupport {
using simlaunch::Powersim;
}
