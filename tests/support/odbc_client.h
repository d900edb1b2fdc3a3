// A small raw-ODBC client (wide entry points) for tests that talk to the stand-in through the
// real driver stack: unixODBC + FreeTDS.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <optional>
#include <string>
#include <vector>

namespace bvtest::odbc {

struct Diag {
  std::string state;
  long native = 0;
  std::string text;
};

struct ResultSet {
  std::vector<std::string> columns;
  std::vector<SQLSMALLINT> types;  // SQL data types as the driver describes them
  std::vector<std::vector<std::optional<std::string>>> rows;
};

// Everything one statement produced, read to the end with SQLMoreResults.
struct Result {
  SQLRETURN rc = SQL_SUCCESS;  // what SQLExecDirect (or the catalog call) returned
  bool anyError = false;       // some step returned SQL_ERROR
  std::vector<Diag> diags;     // every diagnostic record of every step, in the order read
  std::vector<ResultSet> sets;
  std::vector<SQLLEN> rowCounts;  // SQLRowCount of each step without a result set
  bool hasNative(long number) const;
  const Diag* find(long number) const;
};

class Handle {
 public:
  Handle(SQLSMALLINT type, SQLHANDLE parent);
  ~Handle();
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  SQLHANDLE get() const { return h_; }

 private:
  SQLSMALLINT type_;
  SQLHANDLE h_ = SQL_NULL_HANDLE;
};

std::vector<Diag> diagnostics(SQLSMALLINT type, SQLHANDLE handle);

class Connection {
 public:
  Connection();  // allocated, not connected
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // SQLDriverConnectW; returns the diagnostics, and whether it connected.
  bool connect(const std::string& connectionString, std::vector<Diag>* diags = nullptr,
               int loginTimeout = 10);
  bool connected() const { return connected_; }
  void disconnect();

  Result execute(const std::string& sql, int queryTimeoutSeconds = 0);
  // SQLPrepare once, then SQLExecute `times` times; the result of the last execution.
  Result prepareAndExecute(const std::string& sql, int times = 1);
  Result tables(const std::string& catalog, const std::string& schema, const std::string& table);
  bool setAutocommit(bool on, std::vector<Diag>* diags = nullptr);
  bool endTransaction(bool commit, std::vector<Diag>* diags = nullptr);
  std::string info(SQLUSMALLINT what);
  SQLHDBC hdbc() const { return dbc_.get(); }

 private:
  void drain(SQLHSTMT stmt, SQLRETURN first, Result& result);
  Handle env_;
  Handle dbc_;
  bool connected_ = false;
};

std::u16string widen(const std::string& utf8);
std::string narrow(const SQLWCHAR* text, std::size_t units);

}  // namespace bvtest::odbc
