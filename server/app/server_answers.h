// How the server answers a request once its row is durable. The production
// server answers plainly; a test build passes answers of its own that play a
// faulty server, each starting from these.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "server/http/answer.h"
#include "server/http/exchange.h"

namespace stub::server {

class ServerAnswers {
 public:
  virtual ~ServerAnswers() = default;

  // An "Info" request: the reply `coded` gives (asked only when sent).
  virtual Answer Info(const std::function<std::string()>& coded) const;
  // Any other keyed request: an empty page.
  virtual Answer Report() const;
  // A request without a Key field, for the file at `path` (resolved inside the
  // served folder; "" when there is none): 405 for a method other than GET or
  // HEAD, 404 without a file, else FileBody.
  virtual Answer File(const Exchange& exchange, std::string_view method, const std::string& path) const;

 protected:
  // The file at `path`, whole.
  virtual Answer FileBody(const Exchange& exchange, const std::string& path) const;
};

}  // namespace stub::server
