#include "window/ErrorDisplay.h"

#include <QString>

#include "window/Dialogs.h"

void ShowException(const std::exception &e) {
  ShowMessageBox(QString::fromUtf8(e.what()), QString::fromLatin1(kApplicationTitle));
}
