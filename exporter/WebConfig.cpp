#include "exporter/WebConfig.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslEllipticCurve>
#include <QSslKey>

#include <crypt.h>

#include <chrono>
#include <cstring>

#include "exporter/Config.h"
#include "exporter/Log.h"
#include "exporter/YamlRead.h"

namespace exporter {

using namespace yamlread;

bool WebConfig::operator==(const WebConfig &o) const {
  const auto sameTls = [](const std::optional<Tls> &a, const std::optional<Tls> &b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || (a->certFile == b->certFile && a->keyFile == b->keyFile && a->clientCaFile == b->clientCaFile &&
                  a->clientAuth == b->clientAuth && a->ssl == b->ssl);
  };
  return sameTls(tls, o.tls) && users == o.users && headers == o.headers;
}

namespace {

// The names this format gives cipher suites and curves, and the TLS library's names for them.
struct Named {
  const char *name;
  const char *library;
};
const Named kCipherSuites[] = {
    {"TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256", "ECDHE-ECDSA-AES128-GCM-SHA256"},
    {"TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256", "ECDHE-RSA-AES128-GCM-SHA256"},
    {"TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384", "ECDHE-ECDSA-AES256-GCM-SHA384"},
    {"TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384", "ECDHE-RSA-AES256-GCM-SHA384"},
    {"TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256", "ECDHE-ECDSA-CHACHA20-POLY1305"},
    {"TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256", "ECDHE-RSA-CHACHA20-POLY1305"},
    {"TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305", "ECDHE-ECDSA-CHACHA20-POLY1305"},
    {"TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305", "ECDHE-RSA-CHACHA20-POLY1305"},
};
const Named kCurves[] = {
    {"CurveP256", "prime256v1"}, {"CurveP384", "secp384r1"}, {"CurveP521", "secp521r1"}, {"X25519", "X25519"}};

template <std::size_t N>
const char *lookUp(const Named (&table)[N], const std::string &name) {
  for (const Named &n : table)
    if (name == n.name) return n.library;
  return nullptr;
}
template <std::size_t N>
std::string namesOf(const Named (&table)[N]) {
  std::string out;
  for (const Named &n : table) out += std::string(out.empty() ? "" : ", ") + n.name;
  return out;
}

std::string resolve(const std::string &dir, const std::string &file) {
  if (file.empty() || file.front() == '/' || dir.empty()) return file;
  return dir + "/" + file;
}

QByteArray fileBytes(const std::string &path, const YAML::Mark &mark, const std::string &key) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) throw Fault{mark, key + ": " + path + ": " + f.errorString().toStdString()};
  return f.read(qint64(kMaxConfigBytes));
}

QSsl::SslProtocol protocolOf(const std::string &min, const std::string &max, const YAML::Mark &mark) {
  for (const auto &[key, v] : {std::pair{"min_version", min}, std::pair{"max_version", max}})
    if (v == "TLS10" || v == "TLS11")
      throw Fault{mark, std::string(key) + ": " + v + " is not offered here (TLS12 or TLS13)"};
    else if (v != "TLS12" && v != "TLS13")
      throw Fault{mark, std::string(key) + ": \"" + v + "\" is not a TLS version (TLS12, TLS13)"};
  if (min == "TLS13") {
    if (max == "TLS12") throw Fault{mark, "min_version TLS13 is above max_version TLS12"};
    return QSsl::TlsV1_3OrLater;
  }
  return max == "TLS12" ? QSsl::TlsV1_2 : QSsl::TlsV1_2OrLater;
}

WebConfig::Tls readTls(const YAML::Node &node, const std::string &dir) {
  const std::string where = "tls_server_config";
  WebConfig::Tls tls;
  std::string authType = "NoClientCert", minVersion = "TLS12", maxVersion = "TLS13";
  std::vector<std::string> ciphers, curves;
  bool preferServer = true;
  YAML::Mark certMark = node.Mark(), keyMark = node.Mark(), caMark = node.Mark();
  for (const auto &[key, v] : entries(node, where,
                                      {"cert_file", "key_file", "client_auth_type", "client_ca_file", "min_version",
                                       "max_version", "cipher_suites", "prefer_server_cipher_suites",
                                       "curve_preferences"})) {
    const std::string k = where + "." + key;
    if (key == "cert_file") tls.certFile = resolve(dir, scalar(v, k)), certMark = v.Mark();
    else if (key == "key_file") tls.keyFile = resolve(dir, scalar(v, k)), keyMark = v.Mark();
    else if (key == "client_ca_file") tls.clientCaFile = resolve(dir, scalar(v, k)), caMark = v.Mark();
    else if (key == "client_auth_type") authType = scalar(v, k);
    else if (key == "min_version") minVersion = scalar(v, k);
    else if (key == "max_version") maxVersion = scalar(v, k);
    else if (key == "cipher_suites") ciphers = scalarList(v, k);
    else if (key == "prefer_server_cipher_suites") preferServer = boolean(v, k);
    else curves = scalarList(v, k);
  }
  if (tls.certFile.empty() || tls.keyFile.empty())
    throw Fault{node.Mark(), where + ": cert_file and key_file are both needed"};

  const QList<QSslCertificate> chain = QSslCertificate::fromData(fileBytes(tls.certFile, certMark, "cert_file"));
  if (chain.isEmpty() || chain.first().isNull())
    throw Fault{certMark, "cert_file: " + tls.certFile + " holds no PEM certificate"};
  const QByteArray keyPem = fileBytes(tls.keyFile, keyMark, "key_file");
  QSslKey key(keyPem, QSsl::Rsa);
  if (key.isNull()) key = QSslKey(keyPem, QSsl::Ec);
  if (key.isNull()) throw Fault{keyMark, "key_file: " + tls.keyFile + " holds no unencrypted PEM RSA or EC key"};
  if (key.algorithm() != chain.first().publicKey().algorithm())
    throw Fault{keyMark, "key_file: the key is not the certificate's (another algorithm)"};

  QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
  ssl.setLocalCertificateChain(chain);
  ssl.setPrivateKey(key);
  ssl.setProtocol(protocolOf(minVersion, maxVersion, node.Mark()));
  ssl.setSslOption(QSsl::SslOptionDisableServerCipherPreference, !preferServer);
  if (authType == "NoClientCert") {
    tls.clientAuth = WebConfig::ClientAuth::None;
    ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
  } else if (authType == "RequestClientCert") {
    tls.clientAuth = WebConfig::ClientAuth::Request;
    ssl.setPeerVerifyMode(QSslSocket::QueryPeer);
  } else if (authType == "RequireAnyClientCert") {
    tls.clientAuth = WebConfig::ClientAuth::RequireAny;
    ssl.setPeerVerifyMode(QSslSocket::QueryPeer);
  } else if (authType == "RequireAndVerifyClientCert") {
    tls.clientAuth = WebConfig::ClientAuth::RequireAndVerify;
    ssl.setPeerVerifyMode(QSslSocket::VerifyPeer);
  } else if (authType == "VerifyClientCertIfGiven") {
    throw Fault{node.Mark(), where + ".client_auth_type: VerifyClientCertIfGiven is not offered here "
                             "(RequireAndVerifyClientCert verifies every client)"};
  } else {
    throw Fault{node.Mark(), where + ".client_auth_type: unknown \"" + authType +
                                 "\" (NoClientCert, RequestClientCert, RequireAnyClientCert, RequireAndVerifyClientCert)"};
  }
  if (tls.clientAuth == WebConfig::ClientAuth::RequireAndVerify && tls.clientCaFile.empty())
    throw Fault{node.Mark(), where + ": RequireAndVerifyClientCert needs client_ca_file"};
  if (!tls.clientCaFile.empty()) {
    const QList<QSslCertificate> cas = QSslCertificate::fromData(fileBytes(tls.clientCaFile, caMark, "client_ca_file"));
    if (cas.isEmpty()) throw Fault{caMark, "client_ca_file: " + tls.clientCaFile + " holds no PEM certificate"};
    ssl.setCaCertificates(cas);
  }
  if (!ciphers.empty()) {
    QList<QSslCipher> list;
    for (const std::string &c : ciphers) {
      const char *name = lookUp(kCipherSuites, c);
      const QSslCipher cipher(name ? QString::fromLatin1(name) : QString());
      if (cipher.isNull())
        throw Fault{node.Mark(), where + ".cipher_suites: \"" + c + "\" is not offered here (" +
                                     namesOf(kCipherSuites) + ")"};
      list.append(cipher);
    }
    ssl.setCiphers(list);
  }
  if (!curves.empty()) {
    QList<QSslEllipticCurve> list;
    for (const std::string &c : curves) {
      const char *name = lookUp(kCurves, c);
      const QSslEllipticCurve curve = QSslEllipticCurve::fromShortName(name ? QString::fromLatin1(name) : QString());
      if (!curve.isValid())
        throw Fault{node.Mark(), where + ".curve_preferences: \"" + c + "\" is not offered here (" +
                                     namesOf(kCurves) + ")"};
      list.append(curve);
    }
    ssl.setEllipticCurves(list);
  }
  tls.ssl = ssl;
  return tls;
}

// The headers an answer may carry, with what each accepts (nullptr: any text).
struct HeaderRule {
  const char *name;
  std::vector<const char *> values;
};
const HeaderRule kHeaders[] = {
    {"Content-Security-Policy", {}},
    {"X-Frame-Options", {"deny", "sameorigin"}},
    {"X-Content-Type-Options", {"nosniff"}},
    {"X-XSS-Protection", {}},
    {"Strict-Transport-Security", {}},
};

std::string readHeaders(const YAML::Node &node) {
  std::string out;
  for (const auto &[name, v] : entries(node, "http_server_config.headers", {})) {
    const HeaderRule *rule = nullptr;
    for (const HeaderRule &r : kHeaders)
      if (name == r.name) rule = &r;
    if (!rule) throw Fault{v.Mark(), "http_server_config.headers: the header \"" + name + "\" cannot be set"};
    const std::string value = scalar(v, "http_server_config.headers." + name);
    if (value.empty()) continue;  // blank: not sent
    if (value.find_first_of("\r\n") != std::string::npos || value.size() > 4096)
      throw Fault{v.Mark(), "http_server_config.headers." + name + ": one line of at most 4096 bytes"};
    bool allowed = rule->values.empty();
    for (const char *a : rule->values) allowed = allowed || QString::fromStdString(value).compare(QLatin1String(a), Qt::CaseInsensitive) == 0;
    if (!allowed) {
      std::string list;
      for (const char *a : rule->values) list += std::string(list.empty() ? "" : ", ") + a;
      throw Fault{v.Mark(), "http_server_config.headers." + name + ": \"" + value + "\" is not one of " + list};
    }
    out += name + ": " + value + "\r\n";
  }
  return out;
}

}  // namespace

bool isBcryptHash(const std::string &text) {
  static const char kAlphabet[] = "./ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  if (text.size() != 60 || text.compare(0, 2, "$2") != 0 || std::strchr("aby", text[2]) == nullptr ||
      text[3] != '$' || text[6] != '$')
    return false;
  const int cost = (text[4] - '0') * 10 + (text[5] - '0');
  if (text[4] < '0' || text[4] > '9' || text[5] < '0' || text[5] > '9' || cost < 4 || cost > 31) return false;
  return text.find_first_not_of(kAlphabet, 7) == std::string::npos;
}

std::optional<WebConfig> parseWebConfig(const std::string &yaml, const std::string &dir, std::string &error) {
  return readYaml<WebConfig>(yaml, error, [&dir](const YAML::Node &root, WebConfig &c) {
    if (root.IsNull()) return;  // an empty file: plain HTTP without authentication
    for (const auto &[key, v] : entries(root, "the file", {"tls_server_config", "http_server_config", "basic_auth_users"})) {
      if (v.IsNull()) continue;
      if (key == "tls_server_config") {
        c.tls = readTls(v, dir);
      } else if (key == "http_server_config") {
        for (const auto &[k, value] : entries(v, key, {"http2", "headers"})) {
          if (k == "http2") boolean(value, key + ".http2");  // HTTP/1.1 is spoken either way
          else if (!value.IsNull()) c.headers = readHeaders(value);
        }
      } else {
        for (const auto &[user, hash] : entries(v, key, {})) {
          const std::string h = scalar(hash, key + "." + user);
          if (user.empty() || user.find(':') != std::string::npos)
            throw Fault{hash.Mark(), key + ": \"" + user + "\" is not a user name (no colon)"};
          if (!isBcryptHash(h))
            throw Fault{hash.Mark(), key + "." + user + ": not a bcrypt hash ($2y$, $2b$ or $2a$, 60 characters)"};
          c.users[user] = h;
        }
      }
    }
  });
}

std::optional<WebConfig> loadWebConfig(const std::string &path, std::string &error) {
  std::string text;
  if (!readSettingsFile(path, text, error)) return std::nullopt;
  auto c = parseWebConfig(text, QFileInfo(QString::fromStdString(path)).absolutePath().toStdString(), error);
  if (!c) error = path + ": " + error;
  return c;
}

bool decodeBasic(const std::string &authorization, std::string &user, std::string &password) {
  const std::size_t sp = authorization.find(' ');
  if (sp == std::string::npos || QString::fromStdString(authorization.substr(0, sp)).compare(QLatin1String("Basic"), Qt::CaseInsensitive) != 0)
    return false;
  const auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(authorization.substr(sp + 1)),
                                                      QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded) return false;
  const QByteArray &plain = *decoded;
  const qsizetype colon = plain.indexOf(':');
  if (colon < 0) return false;
  user = plain.left(colon).toStdString();
  password = plain.mid(colon + 1).toStdString();
  return true;
}

void BasicAuth::setUsers(const std::map<std::string, std::string> &users) {
  // an outcome is kept under the stored hash too, so one of an unchanged user stays true;
  // the others are dropped with the users they were about
  if (users == users_) return;
  users_ = users;
  verified_.clear();
  refused_.clear();
}

bool sameBytes(const std::string &a, const std::string &b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

bool BasicAuth::verify(const std::string &hash, const std::string &password) {
  ++checks_;
  auto data = std::make_unique<crypt_data>();
  const char *out = crypt_r(password.c_str(), hash.c_str(), data.get());
  return out && out[0] != '*' && sameBytes(out, hash);
}

BasicAuth::Verdict BasicAuth::check(const std::string &authorization, std::string &user) {
  std::string password;
  user.clear();
  if (!decodeBasic(authorization, user, password)) return Verdict::Wrong;
  // an unknown user costs a check against a stored hash all the same, so the time an answer
  // takes does not tell which users exist
  const auto it = users_.find(user);
  const bool known = it != users_.end();
  const std::string &hash = known ? it->second : users_.begin()->second;
  QCryptographicHash h(QCryptographicHash::Sha256);
  for (const std::string *part : std::initializer_list<const std::string *>{&user, &hash, &password}) {
    h.addData(QByteArrayView(part->data(), qsizetype(part->size())));
    h.addData(QByteArrayView("\0", 1));
  }
  const std::string key = h.result().toStdString();
  if (verified_.count(key)) return Verdict::Ok;
  if (refused_.count(key)) return Verdict::Wrong;

  const int64_t now = steadyMs();
  budgetMs_ = std::min<double>(kBurstMs, budgetMs_ + double(now - budgetAt_) * kCheckBudgetMs / 1000.0);
  budgetAt_ = now;
  if (budgetMs_ <= 0) return Verdict::Busy;
  const auto started = std::chrono::steady_clock::now();
  const bool ok = verify(hash, password) && known;
  budgetMs_ -= std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  if (ok) {
    verified_.insert(key);
  } else {
    if (refused_.size() >= kKeptOutcomes) refused_.clear();
    refused_.insert(key);
  }
  return ok ? Verdict::Ok : Verdict::Wrong;
}

}  // namespace exporter
