#include "core/maintenance/server_session.h"

#include "core/maintenance/command_executor.h"
#include "core/text/ascii.h"

namespace bv::maintenance {

std::string valueOf(const Row& row, std::string_view column) {
  for (const auto& [name, value] : row) {
    if (text::asciiLower(name) == text::asciiLower(column)) return value;
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
  std::vector<Row> out;
  for (; !query.eof(); query.next()) {
    Row row;
    for (const std::string& column : columns) {
      row.emplace_back(column, query.fieldIsNull(column) ? std::string() : query.fieldAsText(column));
    }
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

}  // namespace bv::maintenance
