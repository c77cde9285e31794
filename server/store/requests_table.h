// The requests table both stores keep: its columns, the statement that makes
// it in each database's spelling of the types, and a request read back from
// one of its rows.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// How one database spells the run queries.
struct RunDialect {
  const char* bytes;      // follows each literal compared with a field ("" or "::bytea")
  bool numbers_as_text;   // every number returned as its decimal text (a binary result then holds bytes only)
  // Ends the per-request subquery so that it is not merged into the grouping
  // (each request's kind is then worked out once, not once per aggregate).
  const char* fence;
};

// The two queries behind Store::ForEachRun:
//   RunSummarySql: one row per run in run order (TimeID, then PcId):
//     TimeID, PcId, then RunSummary's fields in order up to install_time,
//     then the number of failed downloads.
//   RunFailuresSql: TimeID, PcId, Data of every failed download's report, in
//     run order, then order of arrival.
std::string RunSummarySql(const RunDialect& dialect);
std::string RunFailuresSql(const RunDialect& dialect);

// The next row of a result, each column's bytes or nullopt for NULL; false
// at its end (or on an error the caller keeps).
using NextRow = std::function<bool(std::vector<std::optional<std::string>>& row)>;
// Reads the two results in step and calls `fn` for each run with its failures.
void JoinRuns(const NextRow& runs, const NextRow& failures, const std::function<void(const RunSummary&)>& fn);

}  // namespace stub::server
