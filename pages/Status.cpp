// The status page: the polling cycle starts with the system status read.
#include "window/Unit1.h"

void TForm1::mcu_read_dystatus() { sendRequest(QStringLiteral("42"), QStringLiteral("16")); }
