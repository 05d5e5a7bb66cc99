#include "protocol/History.h"

#include "protocol/Conversions.h"

namespace history {

namespace {

const char *const kAcEvents[] = {"交流掉电", "B相缺相", "C相缺相", "交流过压", "B相过压", "C相过压", "交流欠压",
                                 "B相欠压", "C相欠压", "交流过流", "B相过流", "C相过流", "交流空开断"};
const char *const kEnvironmentEvents[] = {"环境温度过高", "环境温度过低", "电池温度过高", "电池温度过低",
                                          "防雷失效",     "烟雾告警",     "水侵告警",     "门禁告警"};
const char *const kDcEvents[] = {"-48V输出过压", "-48V电池低压", "一次下电",     "二次下电",    "负载熔丝断",
                                 "电池1熔丝断",  "电池电流过高", "负载电流过高", "模块缺失告警"};
// Types 4 to 8: "Rectifier", the module number, then the fault.
const char *const kRectifierFaults[] = {"O/P. V. over", "Temp. over", "Short", "Fan failure", "O/P. A Limit"};

struct CodedEvents {
  const char *const *texts;
  int count;
};
template <std::size_t N>
constexpr CodedEvents coded(const char *const (&texts)[N]) {
  return {texts, static_cast<int>(N)};
}
// By type 1, 2, 3.
const CodedEvents kCodedEvents[] = {coded(kAcEvents), coded(kEnvironmentEvents), coded(kDcEvents)};
constexpr int kFirstRectifierType = 4;
constexpr int kRectifierTypes = sizeof kRectifierFaults / sizeof kRectifierFaults[0];

}  // namespace

QString timeText(const uint8_t *r) {
  using proto::hex2;
  return QStringLiteral("20") + hex2(r[0]) + QLatin1Char('-') + hex2(r[1]) + QLatin1Char('-') + hex2(r[2]) +
         QLatin1Char(' ') + hex2(r[3]) + QLatin1Char(':') + hex2(r[4]) + QLatin1Char(':') + hex2(r[5]);
}

QString eventText(int type, int code) {
  if (type >= 1 && type <= 3) {
    const CodedEvents &e = kCodedEvents[type - 1];
    return code >= 1 && code <= e.count ? QString::fromUtf8(e.texts[code - 1]) : QString();
  }
  if (type >= kFirstRectifierType && type < kFirstRectifierType + kRectifierTypes)
    return QStringLiteral("Rectifier") + QString::number(code) +
           QString::fromLatin1(kRectifierFaults[type - kFirstRectifierType]);
  return QString();
}

bool isEmpty(const uint8_t *r) {
  for (int k = 0; k < 6; ++k)
    if (r[k] != 0) return false;
  return true;
}

}  // namespace history
