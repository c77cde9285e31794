#include "server/report_server.h"

#include <chrono>
#include <cstdio>

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
  store_ = Store::Open(config_.db, true, error);
  if (!store_) return false;
  http_ = std::make_unique<HttpServer>(
      [this](const HttpRequest& req, Connection& conn) { Handle(req, conn); });
  if (!http_->Listen(config_.host, config_.port, error)) {
    http_.reset();
    store_.reset();
    return false;
  }
  http_->Start();
  return true;
}

uint16_t ReportServer::port() const { return http_ ? http_->port() : 0; }

void ReportServer::Stop() {
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
  if (key && *key == "Info") AnswerInfo(conn);
  else if (key) AnswerReport(conn);
  else AnswerFile(req, conn);
}

// The report is recorded already; only its answer waits.
void ReportServer::AnswerReport(Connection& conn) {
  if (config_.report_delay > 0 &&
      !conn.Pause(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(config_.report_delay)))) {
    conn.SetClose();
    return;
  }
  conn.SendSimple(200, "text/html; charset=utf-8", "");
}

void ReportServer::AnswerInfo(Connection& conn) {
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
  conn.SendSimple(200, "text/html; charset=utf-8", InfoPage(config_.reply));
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
