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

void LogFailure(const std::string& error) {
  std::fprintf(stderr, "report-server: %s\n", error.c_str());
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
  if (!config_.tls_cert.empty() &&
      (!ReadPem(config_.tls_cert, "--tls-cert", &settings.tls_cert_pem, error) ||
       !ReadPem(config_.tls_key, "--tls-key", &settings.tls_key_pem, error)))
    return false;
  store_ = Store::Open(config_.db, true, error, config_.spool);
  if (!store_) return false;
  http_ = std::make_unique<HttpDaemon>(
      [this](const HttpRequest& req, const LaterAnswer& later) {
        Handle(req, later);
        return std::nullopt;
      },
      [this](const HttpRequest& req) {  // refused by the library: recorded all the same
        RecordedRequest rec = NewRecord(req);
        std::string error;
        if (!store_->Add(rec, &error)) LogFailure(error);
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
            AdminAnswer(req.method, req.target, [this](const StatsFilter& filter, Stats* out, std::string* e) {
              return StoreStats(*store_, filter, out, e);
            });
        return TextAnswer(res.status, res.content_type, res.body);
      },
      [](const HttpRequest&) {});
  DaemonSettings settings;
  settings.host = config_.admin_host;
  settings.port = config_.admin_port;
  settings.threads = 2;
  settings.max_connections = 64;
  if (admin_->Start(settings, error)) return true;
  *error = "--admin-listen: " + *error;
  Stop();
  return false;
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
  store_->Submit(rec, [this, rec, later](bool ok, const std::string& error) {
    if (!ok) LogFailure(error);
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
