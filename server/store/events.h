// The "events" command: the recorded requests as JSON lines.
#pragma once

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "server/store/store.h"

namespace stub::server {

// One JSON object: id, time, client, method, target and every query field
// (null when absent), in that order, without a line end.
std::string EventJson(const RecordedRequest& r);
nlohmann::ordered_json EventObject(const RecordedRequest& r);

// Writes every request of the database at `db_path` to `out`, one object per
// line in id order. Returns false with `error` when the database cannot be
// read.
bool PrintEvents(const std::string& db_path, std::FILE* out, std::string* error);

}  // namespace stub::server
