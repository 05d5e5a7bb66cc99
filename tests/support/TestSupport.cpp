#include "support/TestSupport.h"

#include "sim/launch/Powersim.h"

namespace testsupport {
QString powersimPath() { return simlaunch::powersimPath(); }
}  // namespace testsupport
