// Helpers shared by the test programs.
#pragma once
#include <QString>

namespace testsupport {
// Path of the powersim program built beside the tests (empty when it is not built).
QString powersimPath();
// Resident memory of a process in KiB (pid 0: this one); -1 when it cannot be read.
long rssKiB(qint64 pid = 0);
}
