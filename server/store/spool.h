// A local file of requests waiting for the database: records of length,
// CRC-32 and payload, appended and fsync'd before the requests are answered.
// A torn record at the end (a crash mid-append) is dropped when read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "server/store/store.h"

namespace stub::server {

// One record's bytes; the payload holds event id, time, client, method and
// target (the query fields are decoded again from the target).
std::string EncodeSpoolRecord(const RecordedRequest& r);
// The requests of whole, intact records from the start of `bytes`; `good`
// is the length they cover.
std::vector<RecordedRequest> DecodeSpoolRecords(std::string_view bytes, size_t* good);

class Spool {
 public:
  ~Spool();
  // Opens or creates the file and cuts a torn tail off.
  bool Open(const std::string& path, std::string* error);
  bool empty() const { return size_ == 0; }
  // Appends `rows` and waits until they are on disk.
  bool Append(const std::vector<RecordedRequest*>& rows, std::string* error);
  // Every waiting request, in order of arrival.
  bool ReadAll(std::vector<RecordedRequest>* out, std::string* error);
  // Empties the file once its requests are safely elsewhere.
  bool Clear(std::string* error);

 private:
  int fd_ = -1;
  size_t size_ = 0;
  std::string path_;
};

}  // namespace stub::server
