#include "support/TestSupport.h"

namespace testsupport {
QString powersimPath() {
#ifdef POWERSIM_PATH
  return QStringLiteral(POWERSIM_PATH);
#else
  return {};
#endif
}
}  // namespace testsupport
