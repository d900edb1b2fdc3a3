#include "core/maintenance/server_session.h"

#include "core/db/sql_text.h"
#include "core/maintenance/command_executor.h"
#include "core/text/ascii.h"

namespace bv::maintenance {

std::string valueOf(const Row& row, std::string_view column) {
  for (const auto& [name, value] : row) {
    if (text::equalsIgnoringAsciiCase(name, column)) return value;
  }
  return {};
}

ServerSession::ServerSession(const db::ConnectionSettings& settings) : connection_(settings) {
  connection_.open();
  connection_.forgetPassword();
}

std::vector<Row> ServerSession::rows(const std::string& text, const std::vector<std::string>& columns) {
  db::Query query(connection_);
  query.addLine(text);
  query.setCommandTimeout(kMaintenanceCommandTimeoutSeconds);
  query.open();
  if (query.eof()) return {};
  std::vector<std::size_t> at;
  for (const std::string& column : columns) at.push_back(query.columnIndex(column));
  std::vector<Row> out;
  out.reserve(query.rowCount());
  for (; !query.eof(); query.next()) {
    Row row;
    row.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) row.emplace_back(columns[i], query.fieldAt(at[i]).value_or(std::string()));
    out.push_back(std::move(row));
  }
  return out;
}

std::vector<db::ErrorEntry> ServerSession::execute(const std::string& text) {
  db::Query query(connection_);
  query.addLine(text);
  query.setCommandTimeout(kMaintenanceCommandTimeoutSeconds);
  query.execute();
  return connection_.infoMessages();
}

ServerRelease readRelease(ServerSession& session) {
  db::Query query(session.connection());
  query.addLine("SELECT " + releaseSelectList());
  query.open();
  return query.eof() ? ServerRelease{} : releaseOf(query);
}

std::string databaseState(ServerSession& session, std::string_view name) {
  const auto rows = session.rows("SELECT CONVERT(nvarchar(128), DATABASEPROPERTYEX(" + db::unicodeLiteral(name) +
                                     ", 'Status')) AS state",
                                 {"state"});
  return rows.empty() ? std::string() : valueOf(rows[0], "state");
}

std::string withServerTexts(std::string_view header, const std::vector<db::ErrorEntry>& entries) {
  std::string message = std::string(header) + "\r\n\r\n";
  for (const auto& entry : entries) message += entry.message + "\r\n";
  return message;
}

}  // namespace bv::maintenance
