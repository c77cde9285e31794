#include "server/store/requests_table.h"

namespace stub::server {

std::string RequestColumns() {
  std::string out = "time, client, method, target";
  for (const char* name : kFieldNames) out += std::string(", \"") + name + "\"";
  return out;
}

std::string CreateRequestsSql(const TableDialect& d) {
  std::string sql = std::string(d.create) + " " + kRequestsTable + " (" + d.key + ", time " + d.text +
                    " NOT NULL, client " + d.text + " NOT NULL, method " + d.method + " NOT NULL, target " +
                    d.target + " NOT NULL";
  for (const char* name : kFieldNames) sql += std::string(", \"") + name + "\" " + d.field;
  return sql + ")";
}

RecordedRequest RequestFromRow(const ColumnReader& column) {
  RecordedRequest r;
  int index = 0;
  for (std::string* text : {&r.time, &r.client, &r.method, &r.target}) *text = column(index++).value_or("");
  for (auto& field : r.fields) field = column(index++);
  return r;
}

}  // namespace stub::server
