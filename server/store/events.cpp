#include "server/store/events.h"

#include "server/http/query.h"

namespace stub::server {

nlohmann::ordered_json EventObject(const RecordedRequest& r) {
  nlohmann::ordered_json o;
  o["id"] = r.id;
  o["time"] = ValidUtf8(r.time);
  o["client"] = ValidUtf8(r.client);
  o["method"] = ValidUtf8(r.method);
  o["target"] = ValidUtf8(r.target);
  for (size_t i = 0; i < kFieldCount; ++i)
    o[kFieldNames[i]] = r.fields[i] ? nlohmann::ordered_json(ValidUtf8(*r.fields[i])) : nullptr;
  return o;
}

std::string EventJson(const RecordedRequest& r) { return EventObject(r).dump(); }

bool PrintEvents(const std::string& db_path, std::FILE* out, std::string* error) {
  const auto store = Store::Open(db_path, false, error);
  if (!store) return false;
  const bool ok = store->ForEach(
      [out](const RecordedRequest& r) {
        const std::string line = EventJson(r) + "\n";
        std::fwrite(line.data(), 1, line.size(), out);
      },
      error);
  std::fflush(out);
  return ok;
}

}  // namespace stub::server
