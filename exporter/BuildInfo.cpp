// The build's identity, kept in a file of its own: only this file is compiled again when the
// revision changes.
#include <QtGlobal>

#include "exporter/Exporter.h"
#include "exporter_revision.h"  // POWERHOST_REVISION, written at build time

namespace exporter {

BuildInfo buildInfo() { return {POWERHOST_EXPORTER_VERSION, POWERHOST_REVISION, qVersion()}; }

}  // namespace exporter
