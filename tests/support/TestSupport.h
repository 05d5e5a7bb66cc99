// Helpers shared by the test programs.
#pragma once
#include <QString>

namespace testsupport {
// Path of the powersim program built beside the tests (empty when it is not built).
QString powersimPath();
}
