// One accepted client connection: bounded reading of request heads, writing
// of answers, and waits that end at once when the server stops.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "server/http_message.h"

namespace stub::server {

class Connection {
 public:
  // Takes ownership of `fd`; `wake_fd` becomes readable when the server stops.
  Connection(int fd, int wake_fd, std::string client);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  enum class HeadResult { kOk, kEnded, kLineTooLong, kHeadTooLong };
  // Reads the next request head (up to and including its empty line) into
  // `head`. kEnded: the client closed, went idle, or the server is stopping.
  HeadResult ReadHead(std::string& head);
  // Reads and drops `length` body bytes; false when they do not arrive.
  bool DiscardBody(int64_t length);

  // Writes all of `data`; false once the client is gone, a write times out or
  // the server stops. After a failure every later call fails at once.
  bool Send(std::string_view data);
  // Writes a response head; adds "Connection: close" when the connection is
  // set to close.
  bool SendHead(int status, const Headers& headers);
  // A complete answer with a fixed body (omitted for HEAD requests).
  bool SendSimple(int status, std::string_view content_type, std::string_view body);

  // Sleeps for `duration`; false when the server stops first or the
  // connection is already broken.
  bool Pause(std::chrono::steady_clock::duration duration);
  // Holds the connection open, sending nothing, until the client closes it or
  // the server stops; what the client sends meanwhile is dropped.
  void WaitUntilGone();

  // Ends the connection gracefully: no more output, then input is dropped
  // until the client closes (at most a short while).
  void Finish();

  // Per-request state, set by the server loop before each request.
  void BeginRequest(bool keep_alive, bool head_only);
  // No further requests on this connection; the answer announces it.
  void SetClose() { keep_alive_ = false; }
  bool keep_alive() const { return keep_alive_ && !broken_; }
  bool head_only() const { return head_only_; }
  const std::string& client() const { return client_; }
  bool stopping() const;

 private:
  enum class Fill { kData, kClosed, kTimeout, kStop };
  // Waits up to `timeout_ms` for bytes and appends them to in_.
  Fill FillBuffer(int timeout_ms);
  // Polls the socket for `events` and the wake pipe; returns the socket's
  // events, 0 on time-out, -1 when the server stops.
  int PollSocket(short events, int timeout_ms);

  int fd_;
  int wake_fd_;
  std::string client_;
  std::string in_;  // received bytes not yet consumed
  bool keep_alive_ = true;
  bool head_only_ = false;
  bool broken_ = false;        // writing failed; nothing more can be sent
  bool broken_input_ = false;  // the client stopped sending mid-request
};

}  // namespace stub::server
