// One request's connection, for answers that take their time: a body that
// paces itself, goes quiet for a while or looks whether its client is still
// there, all cut short by a stop.
#pragma once

#include "server/http/resumer.h"

namespace stub::server {

class Exchange {
 public:
  Exchange(MHD_Connection* connection, Resumer& resumer) : connection_(connection), resumer_(&resumer) {}

  // True once the daemon is stopping: an answer in progress should end.
  bool stopping() const { return resumer_->stopping(); }
  // Suspends the connection until `due`; call only from its own library
  // callback. False (nothing suspended) once stopping.
  bool PauseUntil(Resumer::Clock::time_point due) const { return resumer_->PauseUntil(connection_, due); }
  // Blocks the calling thread until `due`; false when a stop comes first.
  bool SleepUntil(Resumer::Clock::time_point due) const { return resumer_->SleepUntil(due); }
  // True once the client has closed its side (or the socket failed).
  bool ClientGone() const;

 private:
  MHD_Connection* connection_;
  Resumer* resumer_;  // the daemon's, which outlives every connection
};

}  // namespace stub::server
