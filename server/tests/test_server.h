// Test support: a report server running in-process on a free port over a
// scratch folder, with plain HTTP and raw-socket clients.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/options.h"
#include "server/report_server.h"
#include "server/store.h"

namespace stub::server::testing {

// A raw TCP client for requests that HTTP libraries refuse to send.
class RawSocket {
 public:
  explicit RawSocket(uint16_t port);
  ~RawSocket();
  bool connected() const { return fd_ >= 0; }
  bool Send(const std::string& bytes);
  // Reads until the server closes the connection or `timeout` passes without
  // data; `closed` tells which.
  std::string ReadAll(std::chrono::milliseconds timeout, bool* closed = nullptr);
  // Reads whatever arrives within `timeout`; empty on time-out.
  std::string ReadSome(std::chrono::milliseconds timeout, bool* closed = nullptr);

 private:
  int fd_ = -1;
};

// A response split from raw bytes.
struct RawResponse {
  int status = 0;
  std::string head;  // status line and headers
  std::string body;  // everything after the empty line, as received
};
RawResponse SplitResponse(const std::string& bytes);

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the server; `tweak` may change the configuration first.
  void StartServer(const std::function<void(ServerConfig&)>& tweak = {});
  uint16_t port() const { return server_->port(); }
  void StopServer() { server_->Stop(); }

  // A client that sends targets exactly as given.
  std::unique_ptr<httplib::Client> Client() const;
  // Sends `request` verbatim on a new connection and reads until it closes.
  RawResponse RawExchange(const std::string& request) const;
  // A GET of `target` with "Connection: close", through a raw socket.
  RawResponse RawGet(const std::string& target) const;

  // Every recorded request, in order.
  std::vector<RecordedRequest> Events() const;

  // Writes `bytes` to `relative` under the scratch folder (folders made).
  std::string WriteFile(const std::string& relative, const std::string& bytes) const;

  std::string dir_;  // scratch folder: files/, reply.txt, requests.db
  ServerConfig config_;
  std::unique_ptr<ReportServer> server_;
};

}  // namespace stub::server::testing
