#include "core/maintenance/command_executor.h"

#include <optional>

namespace bv::maintenance {

std::string_view operationName(Operation operation) {
  switch (operation) {
    case Operation::Backup:
      return "バックアップ";
    case Operation::Restore:
      return "レストア";
    case Operation::TruncateLog:
      break;
  }
  return "ログの切り捨て";
}

db::ConnectionSettings maintenanceConnectionSettings(const db::LoginSettings& login,
                                                     std::string_view operationName) {
  db::ConnectionSettings settings = db::loginConnectionSettings(login);
  if (operationName == maintenance::operationName(Operation::Restore)) settings.set("Database", "master");
  return settings;
}

std::string executionErrorMessage(std::string_view operationName, const std::vector<db::ErrorEntry>& errors) {
  std::string message(operationName);
  message += "中にエラーが発生しました。\r\n\r\n";
  for (const auto& entry : errors) {
    message += entry.message;
    message += "\r\n";
  }
  return message;
}

ExecutionOutcome executeMaintenanceCommand(const db::ConnectionSettings& settings, const std::string& command,
                                           std::string_view operationName, const MessageSink& onMessage,
                                           const PercentSink& onPercent) {
  ExecutionOutcome outcome;
  db::Connection connection(settings);
  std::optional<PercentWatcher> watcher;
  try {
    connection.open();
    connection.forgetPassword();
    outcome.connected = true;
    if (onPercent) {
      db::Query session(connection);
      session.addLine("SELECT @@SPID AS spid");
      session.open();
      if (!session.eof()) watcher.emplace(settings, static_cast<long>(session.fieldAsInteger("spid")), onPercent);
    }
    db::Query query(connection);
    query.clear();
    query.addLine(command);
    query.setCommandTimeout(kMaintenanceCommandTimeoutSeconds);
    if (onMessage) query.setMessageSink(onMessage);
    query.execute();
    outcome.infoMessages = connection.infoMessages();
    connection.close();
    outcome.succeeded = true;
  } catch (const db::ProviderError&) {
    outcome.errors = connection.errors();
    outcome.infoMessages = connection.infoMessages();
  } catch (const db::ConnectionStringError& error) {
    // A value the driver cannot carry is the provider refusing the connection.
    outcome.errors = {{error.what(), "08001", 0}};
  }
  if (!outcome.succeeded) outcome.errorMessage = executionErrorMessage(operationName, outcome.errors);
  return outcome;
}

}  // namespace bv::maintenance
