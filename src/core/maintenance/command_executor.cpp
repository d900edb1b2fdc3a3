#include "core/maintenance/command_executor.h"

namespace bv::maintenance {

std::string maintenanceConnectionString(const db::LoginSettings& login,
                                        std::string_view operationName) {
  std::string text = db::buildConnectionString(login);
  if (operationName == kRestoreOperation) text += ";Database=master";
  return text;
}

std::string executionErrorMessage(std::string_view operationName,
                                  const std::vector<db::ErrorEntry>& errors) {
  std::string message(operationName);
  message += "中にエラーが発生しました。\r\n\r\n";
  for (const auto& entry : errors) {
    message += entry.message;
    message += "\r\n";
  }
  return message;
}

ExecutionOutcome executeMaintenanceCommand(const std::string& connectionString,
                                           const std::string& command,
                                           std::string_view operationName) {
  ExecutionOutcome outcome;
  db::Connection connection(connectionString);
  try {
    connection.open();
    outcome.connected = true;
    db::Query query(connection);
    query.clear();
    query.addLine(command);
    query.setCommandTimeout(kMaintenanceCommandTimeoutSeconds);
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
