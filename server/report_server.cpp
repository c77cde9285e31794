#include "server/report_server.h"

#include <chrono>
#include <cstdio>

#include "server/admin.h"
#include "server/file_path.h"
#include "server/file_response.h"
#include "server/info_reply.h"
#include "server/query.h"

namespace stub::server {
namespace {

// Raw "Info" answers are meant for garbage replies; still, they stay bounded.
constexpr size_t kMaxRawBytes = 16u << 20;

}  // namespace

ReportServer::ReportServer(ServerConfig config) : config_(std::move(config)) {}

ReportServer::~ReportServer() { Stop(); }

bool ReportServer::Start(std::string* error) {
  const bool fixed = config_.rules.empty();
  releases_ = std::make_unique<ReleaseService>(fixed ? config_.reply : config_.rules, fixed,
                                               config_.files);
  if (!releases_->Load(error)) {
    *error = (fixed ? config_.reply : config_.rules) + ": " + *error;
    return false;
  }
  store_ = Store::Open(config_.db, true, error);
  if (!store_) return false;
  http_ = std::make_unique<HttpServer>(
      [this](const HttpRequest& req, Connection& conn) { Handle(req, conn); });
  if (!http_->Listen(config_.host, config_.port, error)) {
    http_.reset();
    store_.reset();
    return false;
  }
  if (!config_.admin_host.empty()) {
    admin_ = std::make_unique<HttpServer>([this](const HttpRequest& req, Connection& conn) {
      const AdminResponse res =
          AdminAnswer(req.method, req.target, [this](std::vector<RunEvent>& out, std::string* error) {
            return store_->ForEach([&](const RecordedRequest& r) { out.push_back(ToRunEvent(r)); },
                                   error);
          });
      conn.SendSimple(res.status, res.content_type, req.method == "HEAD" ? "" : res.body);
    });
    if (!admin_->Listen(config_.admin_host, config_.admin_port, error)) {
      *error = "--admin-listen: " + *error;
      admin_.reset();
      http_.reset();
      store_.reset();
      return false;
    }
    admin_->Start();
  }
  http_->Start();
  return true;
}

uint16_t ReportServer::admin_port() const { return admin_ ? admin_->port() : 0; }

bool ReportServer::ReloadRules(std::string* error) {
  return releases_ && releases_->Reload(true, error);
}

uint16_t ReportServer::port() const { return http_ ? http_->port() : 0; }

void ReportServer::Stop() {
  if (admin_) admin_->Stop();
  admin_.reset();
  if (http_) http_->Stop();
  http_.reset();
  store_.reset();
}

void ReportServer::Handle(const HttpRequest& req, Connection& conn) {
  RecordedRequest rec;
  rec.time = UtcTimestamp(std::chrono::system_clock::now());
  rec.client = req.client;
  rec.method = ValidUtf8(req.method);
  rec.target = req.target;
  rec.fields = DecodeQuery(req.target);
  // The row exists before any answer leaves, so a client holding an answer
  // can rely on its request being in the log.
  std::string error;
  if (!store_->Add(rec, &error)) {
    std::fprintf(stderr, "report-server: %s\n", error.c_str());
    conn.SetClose();
    conn.SendSimple(500, "text/plain; charset=utf-8", "request not recorded\n");
    return;
  }
  if (!req.well_formed) {
    conn.SetClose();
    SendStatusPage(conn, 400);
    return;
  }
  const auto& key = rec.fields[kKeyField];
  if (key && *key == "Info") AnswerInfo(rec.fields, conn);
  else if (key) conn.SendSimple(200, "text/html; charset=utf-8", "");
  else AnswerFile(req, conn);
}

void ReportServer::AnswerInfo(const QueryFields& fields, Connection& conn) {
  if (config_.info_delay > 0) {
    const auto delay = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(config_.info_delay));
    if (!conn.Pause(delay)) {
      conn.SetClose();
      return;
    }
  }
  if (!config_.info_raw.empty()) {
    conn.SendSimple(200, "text/html", ReadFileBytes(config_.info_raw, kMaxRawBytes));
    return;
  }
  // Plain text, so that the page text the stub takes is the coded reply
  // exactly (an HTML page would have its spaces collapsed).
  conn.SendSimple(200, "text/plain; charset=utf-8", releases_->AnswerFor(fields).coded);
}

void ReportServer::AnswerFile(const HttpRequest& req, Connection& conn) {
  if (config_.file.status != 0) {
    SendStatusPage(conn, config_.file.status);
    return;
  }
  if (req.method != "GET" && req.method != "HEAD") {
    SendStatusPage(conn, 405);
    return;
  }
  const std::string path = ResolveServedFile(config_.files, req.target);
  if (path.empty()) {
    SendStatusPage(conn, 404);
    return;
  }
  SendFile(conn, path, config_.file);
}

}  // namespace stub::server
