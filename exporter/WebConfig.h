// The HTTP endpoint's web configuration file (--web.config.file), in the format Prometheus's
// own exporters share, so one file serves them all and `promtool check web-config` checks it:
//
//   tls_server_config:
//     cert_file: server.crt            # PEM; a chain may follow the certificate
//     key_file: server.key             # PEM, RSA or EC
//     client_auth_type: RequireAndVerifyClientCert   # NoClientCert (default),
//                                      # RequestClientCert, RequireAnyClientCert
//     client_ca_file: clients-ca.crt   # needed to verify client certificates
//     min_version: TLS12               # TLS12 (default) or TLS13; max_version likewise
//     cipher_suites: [TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256, ...]   # TLS 1.2 only
//     prefer_server_cipher_suites: true
//     curve_preferences: [X25519, CurveP256]
//   http_server_config:
//     http2: false                     # accepted; the endpoint speaks HTTP/1.1
//     headers: {X-Content-Type-Options: nosniff, Strict-Transport-Security: max-age=31536000}
//   basic_auth_users:
//     prometheus: $2y$10$...           # bcrypt hashes ($2a$, $2b$, $2y$)
//
// Relative file names are taken from the file's own folder. A key nobody knows is an error,
// as is a value this endpoint cannot honour (TLS 1.0 and 1.1, VerifyClientCertIfGiven, a
// cipher suite or curve it does not offer): never silently weaker than the file says. The
// certificate and key are read when the file is, so a file that loads is one that serves.
//
// Pure but for reading the files it names; BasicAuth verifies credentials with libcrypt.
#pragma once

#include <QSslConfiguration>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace exporter {

struct WebConfig {
  enum class ClientAuth { None, Request, RequireAny, RequireAndVerify };
  struct Tls {
    std::string certFile, keyFile, clientCaFile;  // as resolved against the file's folder
    ClientAuth clientAuth = ClientAuth::None;
    QSslConfiguration ssl;  // certificate, key, CA, versions, ciphers, curves: ready to serve
  };
  std::optional<Tls> tls;
  std::map<std::string, std::string> users;  // name, bcrypt hash
  std::string headers;                       // header lines for every answer, each ending in CRLF
  bool operator==(const WebConfig &o) const;
};

// The file's text; dir: the folder relative file names are taken from. On failure, error is
// one line naming the line of the file (when there is one) and what is wrong.
std::optional<WebConfig> parseWebConfig(const std::string &yaml, const std::string &dir, std::string &error);
// The same from a file; the error starts with the file's name.
std::optional<WebConfig> loadWebConfig(const std::string &path, std::string &error);

// Checks basic-auth credentials against the configured users. A bcrypt check takes tens of
// milliseconds by design and runs on the caller's thread, so each outcome is kept under a
// hash of (user, stored hash, password): a credential costs one check, however often it is
// sent, until the users change; credentials found right are never pushed out by wrong ones. The checks a client can cause are bounded: at most
// kCheckBudgetMs of checking per second (kBurstMs at once); beyond that a credential not yet
// known is not checked (Busy) until the budget has grown back.
class BasicAuth {
 public:
  enum class Verdict { Ok, Wrong, Busy };
  static constexpr int kCheckBudgetMs = 250;
  static constexpr int kBurstMs = 1000;
  static constexpr std::size_t kKeptOutcomes = 1024;

  void setUsers(const std::map<std::string, std::string> &users);
  bool enabled() const { return !users_.empty(); }
  // The value of an Authorization header (empty when none); user: the name it gave.
  Verdict check(const std::string &authorization, std::string &user);
  // Checks so far that ran bcrypt (for tests and logs).
  uint64_t bcryptChecks() const { return checks_; }

 private:
  bool verify(const std::string &hash, const std::string &password);
  std::map<std::string, std::string> users_;
  // SHA-256 of user, stored hash and password: credentials found right (few, never dropped
  // while the users stay) and wrong (at most kKeptOutcomes, then forgotten at once)
  std::set<std::string> verified_, refused_;
  double budgetMs_ = kBurstMs;
  int64_t budgetAt_ = 0;  // steady ms the budget was last topped up
  uint64_t checks_ = 0;
};

// The user and password of a "Basic ..." Authorization value; false when it is not one.
bool decodeBasic(const std::string &authorization, std::string &user, std::string &password);
// Equal texts, in a time that does not depend on where they differ (a password compared).
bool sameBytes(const std::string &a, const std::string &b);
// Whether text is a bcrypt hash libcrypt verifies: $2a$, $2b$ or $2y$, a cost 04..31, 53
// characters of salt and hash.
bool isBcryptHash(const std::string &text);

}  // namespace exporter
