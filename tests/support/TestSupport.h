// Helpers shared by the test programs.
#pragma once

// Built with the address checker: it holds freed memory back and shadows all of it, so memory
// figures mean nothing there and tests judge them only in the plain build.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressChecked = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressChecked = true;
#else
inline constexpr bool kAddressChecked = false;
#endif
#else
inline constexpr bool kAddressChecked = false;
#endif
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace testsupport {
// Path of the powersim program built beside the tests (empty when it is not built).
QString powersimPath();
// Resident memory of a process in KiB (pid 0: this one); -1 when it cannot be read.
long rssKiB(qint64 pid = 0);
// A file's bytes; `unreadable` when it cannot be read.
QByteArray fileBytes(const QString &path, const QByteArray &unreadable = {});
// A frame to address adr with a correct checksum, a request or an answer (cid2OrRtn).
QByteArray frameBytes(uint8_t adr, uint8_t cid1, uint8_t cid2OrRtn, const std::vector<uint8_t> &data = {});
}
