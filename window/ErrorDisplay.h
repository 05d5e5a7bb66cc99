// The default error display that every event handler runs under: an exception that escapes
// a handler abandons the handler and is shown in a message box with the exception's text.
#pragma once

#include <exception>

void ShowException(const std::exception &e);
constexpr const char *kApplicationTitle = "powerhost";

template <class F>
void guarded(F &&handler) {
  try {
    handler();
  } catch (const std::exception &e) {
    ShowException(e);
  }
}
