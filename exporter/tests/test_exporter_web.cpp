// The web configuration (--web.config.file): what the file accepts and refuses, basic
// authentication with its cache and its budget, and the endpoint over TLS against clients
// with and without credentials and certificates, plain HTTP, and reloads.
#include <QtTest>

#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTemporaryDir>

#include <crypt.h>

#include "ExporterProcess.h"
#include "exporter/WebConfig.h"
#include "support/Powersim.h"

using namespace exporter;
using exportertest::Exporter;
using testsupport::Powersim;

namespace {

// A bcrypt hash of the password at the given cost.
std::string bcrypt(const std::string &password, int cost) {
  char salt[CRYPT_GENSALT_OUTPUT_SIZE];
  if (!crypt_gensalt_rn("$2b$", static_cast<unsigned long>(cost), nullptr, 0, salt, sizeof salt)) return {};
  crypt_data data{};
  const char *h = crypt_r(password.c_str(), salt, &data);
  return h ? h : "";
}

bool openssl(const QStringList &args, const QString &dir) {
  QProcess p;
  p.setWorkingDirectory(dir);
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(QStringLiteral("openssl"), args);
  return p.waitForFinished(30000) && p.exitCode() == 0;
}

// In dir: a server certificate for 127.0.0.1 (server.crt, server.key), a client CA
// (ca.crt) and a client certificate it signed (client.crt, client.key).
bool makeCertificates(const QString &dir) {
  const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
  return openssl(QStringList{"req", "-x509"} + ec +
                     QStringList{"-keyout", "server.key", "-out", "server.crt", "-days", "2", "-subj", "/CN=127.0.0.1",
                                 "-addext", "subjectAltName=IP:127.0.0.1"},
                 dir) &&
         openssl(QStringList{"req", "-x509"} + ec +
                     QStringList{"-keyout", "ca.key", "-out", "ca.crt", "-days", "2", "-subj", "/CN=clients"},
                 dir) &&
         openssl(QStringList{"req"} + ec + QStringList{"-keyout", "client.key", "-out", "client.csr", "-subj", "/CN=prom"},
                 dir) &&
         openssl({"x509", "-req", "-in", "client.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial", "-out",
                  "client.crt", "-days", "2"},
                 dir);
}

void writeFile(const QString &path, const QByteArray &text) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(text);
}

struct Answer {
  bool connected = false;  // the TLS handshake (or TCP connection) succeeded
  QByteArray head, body;
};

// One request over TLS (or plain TCP with tls false); credentials "user:password" or empty;
// a client certificate and key from dir when clientCert.
Answer request(quint16 port, bool tls, const QByteArray &credentials, const QString &certDir = {},
               bool clientCert = false, const QByteArray &path = "/metrics") {
  QSslSocket s;
  QSslConfiguration c = QSslConfiguration::defaultConfiguration();
  c.setPeerVerifyMode(QSslSocket::VerifyNone);
  if (clientCert) {
    QFile crt(certDir + QStringLiteral("/client.crt")), key(certDir + QStringLiteral("/client.key"));
    crt.open(QIODevice::ReadOnly);
    key.open(QIODevice::ReadOnly);
    c.setLocalCertificate(QSslCertificate(crt.readAll()));
    c.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));
  }
  s.setSslConfiguration(c);
  Answer a;
  if (tls) {
    s.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    a.connected = s.waitForEncrypted(5000);
  } else {
    s.connectToHost(QStringLiteral("127.0.0.1"), port);
    a.connected = s.waitForConnected(5000);
  }
  if (!a.connected) return a;
  QByteArray req = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  if (!credentials.isEmpty()) req += "Authorization: Basic " + credentials.toBase64() + "\r\n";
  s.write(req + "\r\n");
  QByteArray all;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 5000 && s.state() != QAbstractSocket::UnconnectedState) {
    if (s.waitForReadyRead(100)) all += s.readAll();
  }
  all += s.readAll();
  a.head = all.left(all.indexOf("\r\n\r\n"));
  a.body = all.mid(all.indexOf("\r\n\r\n") + 4);
  return a;
}

}  // namespace

class TestExporterWeb : public QObject {
  Q_OBJECT
  QTemporaryDir certs_;

 private slots:
  void initTestCase() {
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
      QSKIP("openssl is missing: install the Debian package openssl (scripts/common.sh does)");
    QVERIFY(makeCertificates(certs_.path()));
  }

  void parse_data() {
    QTest::addColumn<QString>("yaml");
    QTest::addColumn<QString>("error");  // empty: accepted
    const QString tls = QStringLiteral("tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n");
    const std::string hash = bcrypt("pw", 4);
    QTest::newRow("empty") << "" << "";
    QTest::newRow("tls") << tls << "";
    QTest::newRow("everything") << tls + "  client_auth_type: RequireAndVerifyClientCert\n  client_ca_file: ca.crt\n"
                                         "  min_version: TLS12\n  max_version: TLS13\n"
                                         "  cipher_suites: [TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256]\n"
                                         "  prefer_server_cipher_suites: false\n  curve_preferences: [CurveP256]\n"
                                         "http_server_config:\n  http2: false\n  headers:\n    X-Frame-Options: deny\n"
                                         "    Strict-Transport-Security: max-age=100\n"
                                         "basic_auth_users:\n  prom: " + QString::fromStdString(hash) + "\n"
                                << "";
    QTest::newRow("unknown key") << "tls_server_config:\n  cert_file: a\n  key_file: b\n  cert: x\n"
                                 << "line 4: tls_server_config: unknown key \"cert\"";
    QTest::newRow("unknown top key") << "rate_limit: {burst: 1}\n" << "line 1: the file: unknown key \"rate_limit\"";
    QTest::newRow("no key file") << "tls_server_config:\n  cert_file: server.crt\n"
                                 << "cert_file and key_file are both needed";
    QTest::newRow("missing file") << "tls_server_config:\n  cert_file: nope.crt\n  key_file: server.key\n"
                                  << "nope.crt";
    QTest::newRow("key of another certificate") << "tls_server_config:\n  cert_file: server.crt\n  key_file: ca.crt\n"
                                                << "holds no unencrypted PEM RSA or EC key";
    QTest::newRow("TLS 1.0") << tls + "  min_version: TLS10\n" << "TLS10 is not offered here";
    QTest::newRow("min above max") << tls + "  min_version: TLS13\n  max_version: TLS12\n" << "above max_version";
    QTest::newRow("verify if given") << tls + "  client_auth_type: VerifyClientCertIfGiven\n" << "not offered here";
    QTest::newRow("verify without CA") << tls + "  client_auth_type: RequireAndVerifyClientCert\n"
                                       << "needs client_ca_file";
    QTest::newRow("weak cipher") << tls + "  cipher_suites: [TLS_RSA_WITH_RC4_128_SHA]\n" << "is not offered here";
    QTest::newRow("bad curve") << tls + "  curve_preferences: [CurveP999]\n" << "is not offered here";
    QTest::newRow("header not allowed") << "http_server_config:\n  headers:\n    X-Foo: bar\n" << "cannot be set";
    QTest::newRow("header value") << "http_server_config:\n  headers:\n    X-Frame-Options: allow\n" << "not one of deny";
    QTest::newRow("header injection") << "http_server_config:\n  headers:\n    Content-Security-Policy: \"a\\r\\nX: y\"\n"
                                      << "one line";
    QTest::newRow("not a hash") << "basic_auth_users:\n  prom: secret\n" << "not a bcrypt hash";
    QTest::newRow("md5 crypt") << "basic_auth_users:\n  prom: $1$abc$def\n" << "not a bcrypt hash";
    QTest::newRow("colon in name") << "basic_auth_users:\n  \"a:b\": " + QString::fromStdString(hash) + "\n"
                                   << "is not a user name";
    QTest::newRow("bool") << "http_server_config:\n  http2: maybe\n" << "is not true or false";
    QTest::newRow("not YAML") << "tls_server_config: [\n" << "not YAML";
  }
  void parse() {
    QFETCH(QString, yaml);
    QFETCH(QString, error);
    std::string why;
    const auto c = parseWebConfig(yaml.toStdString(), certs_.path().toStdString(), why);
    if (error.isEmpty()) {
      QVERIFY2(c.has_value(), why.c_str());
    } else {
      QVERIFY(!c);
      QVERIFY2(QString::fromStdString(why).contains(error), why.c_str());
    }
  }

  void credentials() {
    std::string user, password;
    QVERIFY(decodeBasic("Basic " + QByteArray("prom:a:b").toBase64().toStdString(), user, password));
    QCOMPARE(user, std::string("prom"));
    QCOMPARE(password, std::string("a:b"));  // the first colon ends the name
    QVERIFY(decodeBasic("basic " + QByteArray("x:").toBase64().toStdString(), user, password));
    QVERIFY(!decodeBasic("Bearer abc", user, password));
    QVERIFY(!decodeBasic("Basic !!!", user, password));
    QVERIFY(!decodeBasic("Basic " + QByteArray("nocolon").toBase64().toStdString(), user, password));
    QVERIFY(isBcryptHash(bcrypt("x", 4)));
    QVERIFY(isBcryptHash("$2y$10$X0h1gDsPszWURQaxFh.zoubFi6DXncSjhoQNJgRrnGs7EsimhC7zG"));
    QVERIFY(!isBcryptHash("$2y$10$X0h1gDsPszWURQaxFh.zoubFi6DXncSjhoQNJgRrnGs7EsimhC7z"));
    QVERIFY(!isBcryptHash("$2y$03$X0h1gDsPszWURQaxFh.zoubFi6DXncSjhoQNJgRrnGs7EsimhC7zG"));
  }

  // Each distinct credential costs one bcrypt check, whatever the number of requests; a
  // flood of new wrong ones meets the budget, and a credential known right still passes.
  void authCacheAndBudget() {
    const auto basic = [](const std::string &up) { return "Basic " + QByteArray::fromStdString(up).toBase64().toStdString(); };
    BasicAuth auth;
    QVERIFY(!auth.enabled());
    auth.setUsers({{"prom", bcrypt("right", 10)}, {"grafana", bcrypt("other", 10)}});
    std::string user;
    QCOMPARE(auth.check(basic("prom:right"), user), BasicAuth::Verdict::Ok);
    QCOMPARE(user, std::string("prom"));
    for (int i = 0; i < 20; ++i) QCOMPARE(auth.check(basic("prom:right"), user), BasicAuth::Verdict::Ok);
    QCOMPARE(auth.check(basic("prom:wrong"), user), BasicAuth::Verdict::Wrong);
    QCOMPARE(auth.check(basic("prom:wrong"), user), BasicAuth::Verdict::Wrong);
    QCOMPARE(auth.check(basic("grafana:right"), user), BasicAuth::Verdict::Wrong);  // another user's password
    QCOMPARE(auth.check(basic("nobody:right"), user), BasicAuth::Verdict::Wrong);
    QCOMPARE(auth.check("", user), BasicAuth::Verdict::Wrong);
    QCOMPARE(auth.bcryptChecks(), uint64_t(4));  // right, wrong, grafana's, the unknown user's

    int busy = 0, checked = 0;
    QElapsedTimer t;
    t.start();
    for (int i = 0; busy == 0 && t.elapsed() < 20000; ++i) {
      const auto v = auth.check(basic("prom:guess" + std::to_string(i)), user);
      busy += v == BasicAuth::Verdict::Busy;
      checked += v == BasicAuth::Verdict::Wrong;
    }
    QVERIFY(busy > 0);
    // about a second of checking at once, whatever the machine's speed
    QVERIFY2(t.elapsed() < 1000 + 2 * BasicAuth::kBurstMs, qPrintable(QString::number(t.elapsed())));
    qInfo("%d distinct wrong passwords checked in %lld ms before the budget held the next", checked, t.elapsed());
    QCOMPARE(auth.check(basic("prom:right"), user), BasicAuth::Verdict::Ok);
    // new users: what was known goes with the old ones
    auth.setUsers({{"prom", bcrypt("new", 4)}});
    QTest::qWait(1200);  // the budget grows back
    QCOMPARE(auth.check(basic("prom:right"), user), BasicAuth::Verdict::Wrong);
  }

  // The exporter over TLS with basic auth: right credentials get the page and the extra
  // headers, wrong ones 401 with WWW-Authenticate and a log line without the password,
  // plain HTTP is refused; a reload with a broken file keeps the running one, a good one
  // applies; client certificates are required once the file says so.
  void endToEnd() {
    Powersim sim;
    QVERIFY(sim.ok());
    const QString web = certs_.filePath(QStringLiteral("web.yml"));
    const QByteArray tls = "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n";
    writeFile(web, tls + "http_server_config:\n  headers:\n    X-Content-Type-Options: nosniff\n"
                         "basic_auth_users:\n  prom: " + QByteArray::fromStdString(bcrypt("s3cret", 6)) + "\n");
    Exporter ex({"--interval", "0.5", "--web.config.file", web, "--controller",
                 QStringLiteral("a=tcp://127.0.0.1:%1").arg(sim.port())});
    QVERIFY(ex.port());

    Answer ok;
    QVERIFY(QTest::qWaitFor([&] {
      ok = request(ex.port(), true, "prom:s3cret");
      return ok.body.contains("powerhost_dc_output_voltage_volts{controller=\"a\"}");
    }, 10000));
    QVERIFY(ok.head.startsWith("HTTP/1.1 200"));
    QVERIFY(ok.head.contains("X-Content-Type-Options: nosniff"));

    const Answer wrong = request(ex.port(), true, "prom:hunter2");
    QVERIFY2(wrong.head.startsWith("HTTP/1.1 401"), wrong.head.constData());
    QVERIFY(wrong.head.contains("WWW-Authenticate: Basic"));
    QVERIFY(wrong.head.contains("X-Content-Type-Options: nosniff"));
    QVERIFY(!wrong.body.contains("powerhost_up"));
    QVERIFY(ex.waitForError("HTTP: 401 for user \"prom\" from 127.0.0.1 GET /metrics"));
    QVERIFY(request(ex.port(), true, {}).head.startsWith("HTTP/1.1 401"));
    QVERIFY(request(ex.port(), true, {}, {}, false, "/-/reload").head.startsWith("HTTP/1.1 401"));
    QVERIFY(!ex.errors().contains("hunter2"));

    const Answer plain = request(ex.port(), false, "prom:s3cret");
    QVERIFY(plain.connected);
    QVERIFY2(plain.head.isEmpty(), plain.head.constData());  // no answer in clear

    // a broken file: the running configuration stays
    writeFile(web, tls + "  min_version: TLS10\n");
    ::kill(pid_t(ex.pid()), SIGHUP);
    QVERIFY(ex.waitForError("reload failed, the running configuration stays"));
    QVERIFY(ex.errors().contains("TLS10 is not offered here"));
    QVERIFY(request(ex.port(), true, "prom:s3cret").head.startsWith("HTTP/1.1 200"));
    QVERIFY(ex.metrics().isEmpty());  // still no plain HTTP

    // client certificates required, signed by the CA of the file; no more passwords
    writeFile(web, tls + "  client_auth_type: RequireAndVerifyClientCert\n  client_ca_file: ca.crt\n");
    ::kill(pid_t(ex.pid()), SIGHUP);
    QVERIFY(ex.waitForError("reload: web configuration applied"));
    QVERIFY(!request(ex.port(), true, {}).head.startsWith("HTTP/1.1 200"));
    const Answer withCert = request(ex.port(), true, {}, certs_.path(), true);
    QVERIFY2(withCert.head.startsWith("HTTP/1.1 200"), withCert.head.constData());

    // and back to plain HTTP
    writeFile(web, "");
    ::kill(pid_t(ex.pid()), SIGHUP);
    QVERIFY(ex.waitForError("now takes plain HTTP"));
    QVERIFY(ex.metrics().contains("powerhost_up{controller=\"a\"} 1"));
    QCOMPARE(ex.terminate(), 0);
  }

  // The example passes promtool with certificates beside it, and loads here.
  void exampleFile() {
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (promtool.isEmpty()) QSKIP("promtool is missing: install the Debian package prometheus");
    QTemporaryDir dir;
    QVERIFY(QFile::copy(QStringLiteral(EXAMPLES_DIR "/web-config.yml"), dir.filePath(QStringLiteral("web-config.yml"))));
    for (const char *f : {"server.crt", "server.key"})
      QVERIFY(QFile::copy(certs_.filePath(QLatin1String(f)),
                          dir.filePath(QLatin1String(f).startsWith(QLatin1String("server.crt")) ? QStringLiteral("tls.crt")
                                                                                                 : QStringLiteral("tls.key"))));
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(promtool, {QStringLiteral("check"), QStringLiteral("web-config"), dir.filePath(QStringLiteral("web-config.yml"))});
    QVERIFY(p.waitForFinished(30000));
    QVERIFY2(p.exitCode() == 0, p.readAll().constData());
    std::string why;
    const auto c = loadWebConfig(dir.filePath(QStringLiteral("web-config.yml")).toStdString(), why);
    QVERIFY2(c.has_value(), why.c_str());
    QVERIFY(c->tls.has_value());
    QCOMPARE(int(c->users.size()), 1);
  }
};

QTEST_GUILESS_MAIN(TestExporterWeb)
#include "test_exporter_web.moc"
