// What running a batch or a procedure produces, in the order SQL Server sends it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "standin/sql/value.h"

namespace standin::sql {

// An INFO or ERROR token. Severity <= 10 is informational (sent with class 0 when 10).
struct Message {
  int number = 0;
  int state = 1;
  int severity = 0;
  std::string text;
  int line = 1;
  std::string procedure;
  bool isError() const { return severity > 10; }
};

struct Column {
  std::string name;
  SqlType type;
  bool nullable = true;
};

struct ResultSet {
  std::vector<Column> columns;
  std::vector<Row> rows;
  // Index of a column by name (ignoring case); -1 when absent.
  int columnIndex(const std::string& name) const;
};

// ENVCHANGE of the kinds the engine causes.
struct EnvChange {
  enum class Kind {
    Database = 1,
    Language = 2,
    BeginTransaction = 8,
    CommitTransaction = 9,
    RollbackTransaction = 10
  };
  Kind kind = Kind::Database;
  std::string newValue;  // database name, or the 8-byte transaction descriptor
  std::string oldValue;
};

// The end of one statement (DONE, or DONEINPROC inside a procedure).
struct StatementDone {
  enum class Command : std::uint16_t {
    Other = 0,
    Select = 0xC1,
    Insert = 0xC3,
    Delete = 0xC4,
    Update = 0xC5
  };
  bool error = false;
  std::optional<std::int64_t> rowCount;  // present for SELECT and DML (DONE_COUNT)
  bool inProcedure = false;
  Command command = Command::Other;
};

struct ReturnStatus {
  std::int32_t value = 0;
};

// An output parameter coming back from an RPC.
struct ReturnValue {
  int ordinal = 0;
  std::string name;
  SqlType type;
  Value value;
};

// The end of a procedure (DONEPROC).
struct ProcedureDone {
  bool error = false;
};

using ResultItem =
    std::variant<Message, ResultSet, EnvChange, StatementDone, ReturnStatus, ReturnValue, ProcedureDone>;

struct BatchResult {
  std::vector<ResultItem> items;
  bool cancelled = false;  // an attention stopped the batch

  std::vector<Message> messages() const;
  std::vector<Message> errors() const;
  std::vector<Message> infos() const;
  std::vector<ResultSet> resultSets() const;
  bool failed() const;  // any error message
  bool hasMessage(int number) const;
};

}  // namespace standin::sql
