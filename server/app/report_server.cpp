#include "server/app/report_server.h"

#include <chrono>
#include <cstdio>

#include "server/base/local_file.h"
#include "server/http/answer.h"
#include "server/http/exchange.h"
#include "server/http/query.h"
#include "server/http/served_file.h"
#include "server/stats/admin.h"

namespace stub::server {
namespace {

// A certificate chain or key file, read whole (PEM files are small).
bool ReadPem(const std::string& path, const char* option, std::string* out, std::string* error) {
  constexpr size_t kMaxPemBytes = 1u << 20;
  std::optional<std::string> pem = ReadFileBytes(path, kMaxPemBytes + 1);
  if (!pem) {
    *error = std::string("cannot read ") + option + " '" + path + "'";
    return false;
  }
  if (pem->empty() || pem->size() > kMaxPemBytes) {
    *error = std::string(option) + " '" + path + "' is empty or too large";
    return false;
  }
  *out = std::move(*pem);
  return true;
}

// The certificate and key files, loaded and matched.
std::shared_ptr<const TlsCertificate> LoadCertificate(const ServerConfig& c, std::string* error) {
  std::string chain, key;
  if (!ReadPem(c.tls_cert, "--tls-cert", &chain, error) || !ReadPem(c.tls_key, "--tls-key", &key, error))
    return nullptr;
  auto certificate = TlsCertificate::Load(chain, key, error);
  if (!certificate) *error = "--tls-cert '" + c.tls_cert + "' and --tls-key '" + c.tls_key + "': " + *error;
  return certificate;
}

RecordedRequest NewRecord(const HttpRequest& req) {
  RecordedRequest rec;
  rec.event_id = NewEventId();
  rec.time = UtcTimestamp(std::chrono::system_clock::now());
  rec.client = req.client;
  rec.method = ValidUtf8(req.method);
  rec.target = req.target;
  rec.fields = DecodeQuery(req.target);
  return rec;
}

}  // namespace

ReportServer::ReportServer(ServerConfig config)
    : config_(std::move(config)),
      answers_(config_.answers ? config_.answers : std::make_shared<const ServerAnswers>()) {}

ReportServer::~ReportServer() { Stop(); }

bool ReportServer::Start(std::string* error) {
  const bool fixed = config_.rules.empty();
  releases_ = std::make_unique<ReleaseService>(fixed ? config_.reply : config_.rules, fixed,
                                               config_.files, !config_.tls_cert.empty());
  if (!releases_->Load(error)) {
    *error = (fixed ? config_.reply : config_.rules) + ": " + *error;
    return false;
  }
  DaemonSettings settings;
  settings.host = config_.host;
  settings.port = config_.port;
  settings.max_connections = config_.max_connections;
  settings.max_per_address = config_.max_per_address;
  settings.head_timeout = HeadTimeout();
  settings.trusted_proxies = config_.trusted_proxies;
  settings.tls_priorities = config_.tls_priorities;
  if (!config_.tls_cert.empty() && !(settings.tls_certificate = LoadCertificate(config_, error))) return false;
  store_ = Store::Open(config_.db, true, error, config_.spool);
  if (!store_) return false;
  http_ = std::make_unique<HttpDaemon>(
      [this](const HttpRequest& req, const LaterAnswer& later) {
        Handle(req, later);
        return std::nullopt;
      },
      [this](const HttpRequest& req) {  // refused by the library: recorded all the same
        // A failure is the store's to report, once per outage, not once per request.
        RecordedRequest rec = NewRecord(req);
        std::string error;
        store_->Add(rec, &error);
      });
  if (!http_->Start(settings, error)) {
    http_.reset();
    store_.reset();
    return false;
  }
  return config_.admin_host.empty() || StartAdmin(error);
}

bool ReportServer::StartAdmin(std::string* error) {
  // A daemon of its own, so the dashboard and its figures are never reachable
  // on the port the stubs talk to.
  admin_ = std::make_unique<HttpDaemon>(
      [this](const HttpRequest& req, const LaterAnswer&) -> std::optional<Answer> {
        const AdminResponse res =
            AdminAnswer(
                req.method, req.target,
                [this](const StatsFilter& filter, Stats* out, std::string* e) {
                  return StoreStats(*store_, filter, out, e);
                },
                [this] { return store_->Health(); });
        return TextAnswer(res.status, res.content_type, res.body);
      },
      [](const HttpRequest&) {});
  DaemonSettings settings;
  settings.host = config_.admin_host;
  settings.port = config_.admin_port;
  settings.threads = 2;
  settings.max_connections = 64;
  settings.head_timeout = HeadTimeout();
  if (admin_->Start(settings, error)) return true;
  *error = "--admin-listen: " + *error;
  Stop();
  return false;
}

std::chrono::milliseconds ReportServer::HeadTimeout() const {
  return std::chrono::milliseconds(static_cast<int64_t>(config_.head_timeout_seconds * 1000));
}

bool ReportServer::ReloadCertificates(std::string* error) {
  if (config_.tls_cert.empty() || !http_) return true;
  auto certificate = LoadCertificate(config_, error);
  if (!certificate) return false;
  http_->SetCertificate(std::move(certificate));
  return true;
}

bool ReportServer::ReloadRules(std::string* error) {
  return releases_ && releases_->Reload(true, error);
}

void ReportServer::WatchRules() {
  if (releases_) releases_->Watch();
}

uint16_t ReportServer::port() const { return http_ ? http_->port() : 0; }

uint16_t ReportServer::admin_port() const { return admin_ ? admin_->port() : 0; }

void ReportServer::Stop() {
  if (admin_) admin_->Stop();
  admin_.reset();
  if (http_) http_->Stop();
  http_.reset();
  store_.reset();
}

void ReportServer::Handle(const HttpRequest& req, const LaterAnswer& later) {
  // No answer leaves before the request's row is durable, so a client holding
  // an answer can rely on it being in the log. Meanwhile the connection is
  // suspended, so every open request can join the next commit.
  const auto rec = std::make_shared<RecordedRequest>(NewRecord(req));
  store_->Submit(rec, [this, rec, later](bool ok, const std::string&) {
    later.Give([this, rec, ok](const Exchange& exchange) {
      return ok ? AnswerRecorded(*rec, exchange)
                : TextAnswer(500, "text/plain; charset=utf-8", "request not recorded\n",
                             {{"Connection", "close"}});
    });
  });
}

Answer ReportServer::AnswerRecorded(const RecordedRequest& rec, const Exchange& exchange) {
  const auto& key = rec.fields[kKeyField];
  if (key && *key == "Info") return answers_->Info([&] { return releases_->AnswerFor(rec.fields).coded; });
  if (key) return answers_->Report();
  return answers_->File(exchange, rec.method, ResolveServedFile(config_.files, rec.target));
}

}  // namespace stub::server
