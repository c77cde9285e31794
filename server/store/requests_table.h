// The requests table both stores keep: its columns, the statement that makes
// it in each database's spelling of the types, and a request read back from
// one of its rows.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "server/store/store.h"

namespace stub::server {

constexpr const char* kRequestsTable = "requests";

// The recorded columns after the key, in order: time, client, method, target,
// then one per query field (quoted: the names are mixed case).
std::string RequestColumns();

// How one database spells the table.
struct TableDialect {
  const char* create;  // the statement's head, up to the table name
  const char* key;     // the id column, and the event id column where one is kept
  const char* text;    // time and client
  const char* method;
  const char* target;
  const char* field;   // each query field (NULL when the request had none)
};

// "CREATE TABLE requests (...)" with the key first, then RequestColumns().
std::string CreateRequestsSql(const TableDialect& dialect);

// A request from one row: `column(i)` gives the bytes of the i-th of
// RequestColumns(), or nullopt for NULL. Its id and event id are the caller's.
using ColumnReader = std::function<std::optional<std::string>(int index)>;
RecordedRequest RequestFromRow(const ColumnReader& column);

}  // namespace stub::server
