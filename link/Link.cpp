#include "link/Link.h"

#include <cerrno>
#include <cstring>

QString linkErrorReason(int e) {
  switch (e) {
    case ECONNREFUSED: return QStringLiteral("连接被拒绝（该端口没有程序在监听）");
    case ECONNRESET: return QStringLiteral("对方关闭了连接");
    case EHOSTUNREACH: return QStringLiteral("主机不可达");
    case ENETUNREACH: return QStringLiteral("网络不可达");
    case ETIMEDOUT: return QStringLiteral("连接超时");
    case ENOENT:
    case ENODEV:
    case ENXIO: return QStringLiteral("设备不存在");
    case EACCES:
    case EPERM: return QStringLiteral("权限不足");
    case EBUSY: return QStringLiteral("设备忙（已被其他程序占用）");
    case EADDRINUSE: return QStringLiteral("地址已被占用");
    case EADDRNOTAVAIL: return QStringLiteral("地址不可用");
    case 0: return QString();
    default: return QString::fromLocal8Bit(strerror(e));
  }
}
