#include "test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace stub::server::testing {

RawSocket::RawSocket(uint16_t port) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd_);
    fd_ = -1;
  }
}

RawSocket::~RawSocket() {
  if (fd_ >= 0) close(fd_);
}

bool RawSocket::Send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string RawSocket::ReadSome(std::chrono::milliseconds timeout, bool* closed) {
  if (closed) *closed = false;
  pollfd p = {fd_, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return "";
  char buf[65536];
  const ssize_t n = recv(fd_, buf, sizeof buf, 0);
  if (n <= 0) {
    if (closed) *closed = true;
    return "";
  }
  return std::string(buf, static_cast<size_t>(n));
}

std::string RawSocket::ReadAll(std::chrono::milliseconds timeout, bool* closed) {
  std::string out;
  bool ended = false;
  for (;;) {
    const std::string piece = ReadSome(timeout, &ended);
    if (piece.empty()) break;
    out += piece;
  }
  if (closed) *closed = ended;
  return out;
}

RawResponse SplitResponse(const std::string& bytes) {
  RawResponse r;
  const size_t end = bytes.find("\r\n\r\n");
  r.head = bytes.substr(0, end);
  if (end != std::string::npos) r.body = bytes.substr(end + 4);
  if (bytes.rfind("HTTP/1.1 ", 0) == 0) r.status = std::atoi(bytes.c_str() + 9);
  return r;
}

void ServerTest::SetUp() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "report-server-XXXXXX").string();
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
  dir_ = tmpl;
  std::filesystem::create_directories(dir_ + "/files");
  config_.host = "127.0.0.1";
  config_.port = 0;
  config_.db = dir_ + "/requests.db";
  config_.reply = dir_ + "/reply.txt";
  config_.files = dir_ + "/files";
}

void ServerTest::TearDown() {
  if (server_) server_->Stop();
  server_.reset();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void ServerTest::StartServer(const std::function<void(ServerConfig&)>& tweak) {
  if (tweak) tweak(config_);
  server_ = std::make_unique<ReportServer>(config_);
  std::string error;
  ASSERT_TRUE(server_->Start(&error)) << error;
}

std::unique_ptr<httplib::Client> ServerTest::Client() const {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", port());
  client->set_url_encode(false);
  client->set_read_timeout(10, 0);
  return client;
}

RawResponse ServerTest::RawExchange(const std::string& request) const {
  RawSocket s(port());
  EXPECT_TRUE(s.connected());
  EXPECT_TRUE(s.Send(request));
  return SplitResponse(s.ReadAll(std::chrono::seconds(10)));
}

RawResponse ServerTest::RawGet(const std::string& target) const {
  return RawExchange("GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
}

std::vector<RecordedRequest> ServerTest::Events() const {
  std::string error;
  auto store = Store::Open(config_.db, false, &error);
  EXPECT_TRUE(store) << error;
  std::vector<RecordedRequest> out;
  if (store) store->ForEach([&](const RecordedRequest& r) { out.push_back(r); }, &error);
  return out;
}

std::string ServerTest::WriteFile(const std::string& relative, const std::string& bytes) const {
  const std::filesystem::path path = std::filesystem::path(dir_) / relative;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
  return path.string();
}

}  // namespace stub::server::testing
