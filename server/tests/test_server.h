// Test support: scratch folders, a raw TCP client for requests HTTP libraries refuse, an in-process server.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <httplib.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "server/app/report_server.h"
#include "server/stats/figures.h"
#include "temp_dir.h"

namespace stub::server::testing {

using namespace std::chrono_literals;
using Args = std::vector<std::string>;  // a command line

// Writes a new file at `path` (folders made), as a publisher's copy or an editor's save does.
inline std::string WriteFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path + ".new", std::ios::binary) << bytes;
  std::filesystem::rename(path + ".new", path);
  return path;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A self-signed RSA certificate for 127.0.0.1 and its key as PEM files, the certificate also as `cert`.der.
inline void MakeCertificate(const std::string& cert, const std::string& key) {
  const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext "
                           "subjectAltName=IP:127.0.0.1 -keyout " + key + " -out " + cert + " 2>/dev/null && "
                           "openssl x509 -in " + cert + " -outform DER -out " + cert + ".der";
  ASSERT_EQ(std::system(make.c_str()), 0);
}

inline std::vector<RecordedRequest> ReadAll(const std::string& location) {  // every stored request, in order
  std::vector<RecordedRequest> out;
  std::string error;
  const auto store = Store::Open(location, false, &error);
  EXPECT_TRUE(store && store->ForEach([&](const RecordedRequest& r) { out.push_back(r); }, &error)) << error;
  return out;
}

// Polls `done` every 50 ms for up to 30 s.
inline bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 600; ++i, std::this_thread::sleep_for(50ms))
    if (done()) return true;
  return done();
}

// Runs one statement on a connection of its own to the database at `location`; true when it succeeded.
inline bool Sql(const std::string& location, const std::string& sql) {
  if (!IsPostgresLocation(location)) {
    sqlite3* db = nullptr;
    const bool ok = sqlite3_open(location.c_str(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
  }
  PGconn* c = PQconnectdb(location.c_str());
  PGresult* r = PQexec(c, sql.c_str());
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
  PQclear(r);
  PQfinish(c);
  return ok;
}

// A new, empty database on the cluster whose socket folder is STUB_TEST_PG_SOCKET; "" without one.
inline std::string NewPostgresDatabase() {
  const char* socket = std::getenv("STUB_TEST_PG_SOCKET");
  if (!socket || !*socket) return "";
  static std::atomic<int> serial{0};
  const std::string name = "t" + std::to_string(getpid()) + "_" + std::to_string(++serial);
  const std::string cluster = std::string("postgresql:///postgres?user=postgres&host=") + socket;
  EXPECT_TRUE(Sql(cluster, "CREATE DATABASE " + name)) << cluster;
  return "postgresql:///" + name + "?host=" + socket + "&user=postgres";
}

// A PostgreSQL location whose socket folder holds no server yet: the database is down.
inline std::string DownLocation(const std::string& folder, const std::string& name = "postgres") {
  std::filesystem::create_directories(folder);
  return "postgresql:///" + name + "?host=" + folder + "&user=postgres";
}

// A fresh, empty database of one backend (true: PostgreSQL).
class BackendTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam() && (location_ = NewPostgresDatabase()).empty())
      GTEST_SKIP() << "no PostgreSQL cluster (STUB_TEST_PG_SOCKET)";
  }
  std::unique_ptr<Store> Open(bool create = true) {
    std::string error;
    auto store = Store::Open(location_, create, &error, spool_);
    EXPECT_TRUE(store) << error;
    return store;
  }
  static void Add(Store& store, RecordedRequest r) {
    std::string error;
    EXPECT_TRUE(store.Add(r, &error)) << error;
  }
  std::vector<std::string> Data() const {  // each stored request's Data field
    std::vector<std::string> out;
    for (const auto& r : ReadAll(location_)) out.push_back(r.fields[1].value_or("<null>"));
    return out;
  }
  static std::vector<std::string> Lines(Store& store, const StatsFilter& filter = {}) {  // its figures
    Stats st;
    std::string error;
    EXPECT_TRUE(StoreStats(store, filter, &st, &error)) << error;
    return StatsLines(st);
  }

  TempDir tmp_;
  std::string dir_ = tmp_.path(), spool_ = dir_ + "/spool", location_ = dir_ + "/requests.db";
};

class RawSocket {
 public:
  // Connects to 127.0.0.1:port, from loopback address `from` when given
  // ("127.0.0.2": any 127/8 address is this machine's).
  explicit RawSocket(uint16_t port, const char* from = nullptr) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    if (from) {
      EXPECT_EQ(inet_pton(AF_INET, from, &a.sin_addr), 1);
      EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    a.sin_port = htons(port), a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  }
  int fd() const { return fd_; }
  ~RawSocket() { close(fd_); }
  bool Send(const std::string& b) { return send(fd_, b.data(), b.size(), MSG_NOSIGNAL) == ssize_t(b.size()); }
  // Reads until the peer closes or `quiet` passes without data; `closed` tells which.
  std::string Read(std::chrono::milliseconds quiet, bool* closed = nullptr, int* pieces = nullptr) {
    std::string out;
    char buf[65536];
    pollfd p = {fd_, POLLIN, 0};
    bool ended = false;
    while (!ended && poll(&p, 1, static_cast<int>(quiet.count())) > 0) {
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) ended = true;
      else if (out.append(buf, static_cast<size_t>(n)); pieces) ++*pieces;
    }
    if (closed) *closed = ended;
    return out;
  }
  bool ClosesSilently(std::chrono::milliseconds quiet) {  // the peer closes before `quiet` passes, saying nothing
    bool closed = false;
    return Read(quiet, &closed).empty() && closed;
  }

 private:
  int fd_;
};

struct RawResponse {
  explicit RawResponse(const std::string& bytes) : head(bytes.substr(0, bytes.find("\r\n\r\n"))) {
    if (head.size() < bytes.size()) body = bytes.substr(head.size() + 4);
    if (bytes.rfind("HTTP/1.1 ", 0) == 0) status = std::atoi(bytes.c_str() + 9);
  }
  int status = 0;
  std::string head, body;
};

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_.host = "127.0.0.1", config_.db = dir_ + "/requests.db", config_.reply = dir_ + "/reply.txt";
    std::filesystem::create_directories(config_.files = dir_ + "/files");
  }
  void StartServer(const std::function<void(ServerConfig&)>& tweak = {}) {
    if (tweak) tweak(config_);
    server_ = std::make_unique<ReportServer>(config_);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
  }
  uint16_t port() const { return server_->port(); }
  // Sends "METHOD target" on a connection of its own and reads until it closes.
  RawResponse Raw(const std::string& line) const {
    RawSocket s(port());
    EXPECT_TRUE(s.Send(line + " HTTP/1.1\r\nConnection: close\r\n\r\n"));
    return RawResponse(s.Read(10s));
  }
  std::vector<RecordedRequest> Events() const { return ReadAll(config_.db); }
  std::string Write(const std::string& relative, const std::string& bytes) const {
    return WriteFile(dir_ + "/" + relative, bytes);
  }

  TempDir tmp_;  // outlives the server
  std::string dir_ = tmp_.path();
  ServerConfig config_;
  std::unique_ptr<ReportServer> server_;
};

}  // namespace stub::server::testing
