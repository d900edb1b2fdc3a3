#include "odbc_client.h"

#include <stdexcept>

#include "standin/base/text.h"

namespace bvtest::odbc {

std::u16string widen(const std::string& utf8) {
  const std::string le = standin::base::utf8ToUtf16le(utf8);
  std::u16string out;
  for (std::size_t i = 0; i + 1 < le.size(); i += 2)
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(le[i]) |
                                        (static_cast<unsigned char>(le[i + 1]) << 8)));
  return out;
}

std::string narrow(const SQLWCHAR* text, std::size_t units) {
  std::string le;
  for (std::size_t i = 0; i < units; ++i) {
    le.push_back(static_cast<char>(text[i] & 0xFF));
    le.push_back(static_cast<char>((text[i] >> 8) & 0xFF));
  }
  return standin::base::utf16leToUtf8(le);
}

namespace {
SQLWCHAR* wide(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }
bool ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }
}  // namespace

bool Result::hasNative(long number) const { return find(number) != nullptr; }

const Diag* Result::find(long number) const {
  for (const auto& d : diags)
    if (d.native == number) return &d;
  return nullptr;
}

Handle::Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
  if (!ok(SQLAllocHandle(type, parent, &h_))) throw std::runtime_error("SQLAllocHandle failed");
}

Handle::~Handle() {
  if (h_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, h_);
}

std::vector<Diag> diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<Diag> out;
  for (SQLSMALLINT i = 1;; ++i) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR text[4096] = {};
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, text, 4096, &length);
    if (!ok(rc)) break;
    out.push_back(
        Diag{narrow(state, 5), static_cast<long>(native), narrow(text, static_cast<std::size_t>(length))});
  }
  return out;
}

namespace {
// The environment must say ODBC 3 before a connection handle is allocated from it.
SQLHANDLE odbc3(const Handle& env) {
  SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  return env.get();
}
}  // namespace

Connection::Connection() : env_(SQL_HANDLE_ENV, SQL_NULL_HANDLE), dbc_(SQL_HANDLE_DBC, odbc3(env_)) {}

Connection::~Connection() { disconnect(); }

void Connection::disconnect() {
  if (connected_) SQLDisconnect(dbc_.get());
  connected_ = false;
}

bool Connection::connect(const std::string& connectionString, std::vector<Diag>* diags, int loginTimeout) {
  SQLSetConnectAttr(dbc_.get(), SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(loginTimeout)), 0);
  std::u16string in = widen(connectionString);
  SQLWCHAR out[2048];
  SQLSMALLINT outLength = 0;
  const SQLRETURN rc = SQLDriverConnectW(dbc_.get(), nullptr, wide(in), static_cast<SQLSMALLINT>(in.size()),
                                         out, 2048, &outLength, SQL_DRIVER_NOPROMPT);
  if (diags) *diags = diagnostics(SQL_HANDLE_DBC, dbc_.get());
  connected_ = ok(rc);
  return connected_;
}

void Connection::drain(SQLHSTMT stmt, SQLRETURN first, Result& result) {
  result.rc = first;
  SQLRETURN rc = first;
  for (int guard = 0; guard < 1000; ++guard) {
    auto d = diagnostics(SQL_HANDLE_STMT, stmt);
    result.diags.insert(result.diags.end(), d.begin(), d.end());
    if (rc == SQL_NO_DATA) break;
    if (rc == SQL_ERROR) {
      result.anyError = true;
    } else if (ok(rc)) {
      SQLSMALLINT cols = 0;
      SQLNumResultCols(stmt, &cols);
      if (cols > 0) {
        ResultSet rs;
        for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(cols); ++c) {
          SQLWCHAR name[256] = {};
          SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
          SQLULEN size = 0;
          SQLDescribeColW(stmt, c, name, 256, &nameLength, &type, &size, &digits, &nullable);
          rs.columns.push_back(narrow(name, static_cast<std::size_t>(nameLength)));
          rs.types.push_back(type);
        }
        while (true) {
          const SQLRETURN f = SQLFetch(stmt);
          if (f == SQL_NO_DATA) break;
          if (!ok(f)) {
            result.anyError = true;
            auto fd = diagnostics(SQL_HANDLE_STMT, stmt);
            result.diags.insert(result.diags.end(), fd.begin(), fd.end());
            break;
          }
          std::vector<std::optional<std::string>> row;
          for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(cols); ++c) {
            std::u16string value;
            bool isNullValue = false;
            while (true) {
              SQLWCHAR buf[1024];
              SQLLEN indicator = 0;
              const SQLRETURN g = SQLGetData(stmt, c, SQL_C_WCHAR, buf, sizeof buf, &indicator);
              if (g == SQL_NO_DATA) break;
              if (!ok(g)) break;
              if (indicator == SQL_NULL_DATA) {
                isNullValue = true;
                break;
              }
              std::size_t units = indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buf)
                                      ? sizeof buf / sizeof(SQLWCHAR) - 1
                                      : static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
              for (std::size_t k = 0; k < units; ++k) value.push_back(static_cast<char16_t>(buf[k]));
              if (g == SQL_SUCCESS) break;
            }
            if (isNullValue) {
              row.emplace_back();
            } else {
              row.emplace_back(narrow(reinterpret_cast<const SQLWCHAR*>(value.data()), value.size()));
            }
          }
          rs.rows.push_back(std::move(row));
        }
        auto after = diagnostics(SQL_HANDLE_STMT, stmt);
        result.diags.insert(result.diags.end(), after.begin(), after.end());
        result.sets.push_back(std::move(rs));
      } else {
        SQLLEN count = -1;
        SQLRowCount(stmt, &count);
        result.rowCounts.push_back(count);
      }
    }
    rc = SQLMoreResults(stmt);
  }
}

Result Connection::execute(const std::string& sql, int queryTimeoutSeconds) {
  Handle stmt(SQL_HANDLE_STMT, dbc_.get());
  if (queryTimeoutSeconds > 0)
    SQLSetStmtAttr(stmt.get(), SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(queryTimeoutSeconds)), 0);
  std::u16string text = widen(sql);
  Result result;
  drain(stmt.get(), SQLExecDirectW(stmt.get(), wide(text), static_cast<SQLINTEGER>(text.size())), result);
  return result;
}

Result Connection::prepareAndExecute(const std::string& sql, int times) {
  Handle stmt(SQL_HANDLE_STMT, dbc_.get());
  std::u16string text = widen(sql);
  Result result;
  const SQLRETURN p = SQLPrepareW(stmt.get(), wide(text), static_cast<SQLINTEGER>(text.size()));
  if (!ok(p)) {
    result.rc = p;
    result.anyError = true;
    result.diags = diagnostics(SQL_HANDLE_STMT, stmt.get());
    return result;
  }
  for (int i = 0; i < times; ++i) {
    result = Result{};
    drain(stmt.get(), SQLExecute(stmt.get()), result);
    SQLFreeStmt(stmt.get(), SQL_CLOSE);
  }
  return result;
}

Result Connection::tables(const std::string& catalog, const std::string& schema, const std::string& table) {
  Handle stmt(SQL_HANDLE_STMT, dbc_.get());
  std::u16string c = widen(catalog), s = widen(schema), t = widen(table);
  Result result;
  drain(
      stmt.get(),
      SQLTablesW(stmt.get(), wide(c), static_cast<SQLSMALLINT>(c.size()), wide(s),
                 static_cast<SQLSMALLINT>(s.size()), wide(t), static_cast<SQLSMALLINT>(t.size()), nullptr, 0),
      result);
  return result;
}

bool Connection::setAutocommit(bool on, std::vector<Diag>* diags) {
  const SQLRETURN rc = SQLSetConnectAttr(
      dbc_.get(), SQL_ATTR_AUTOCOMMIT,
      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)), 0);
  if (diags) *diags = diagnostics(SQL_HANDLE_DBC, dbc_.get());
  return ok(rc);
}

bool Connection::endTransaction(bool commit, std::vector<Diag>* diags) {
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), commit ? SQL_COMMIT : SQL_ROLLBACK);
  if (diags) *diags = diagnostics(SQL_HANDLE_DBC, dbc_.get());
  return ok(rc);
}

std::string Connection::info(SQLUSMALLINT what) {
  SQLWCHAR buf[512] = {};
  SQLSMALLINT length = 0;
  if (!ok(SQLGetInfoW(dbc_.get(), what, buf, sizeof buf, &length))) return {};
  return narrow(buf, static_cast<std::size_t>(length) / sizeof(SQLWCHAR));
}

}  // namespace bvtest::odbc
