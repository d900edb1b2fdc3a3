// Runs one maintenance batch on a connection of its own and turns a failure into the message
// the user reads. Shared by the main window and the command-line runner. Qt-free.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/db/connection_settings.h"
#include "core/db/database.h"
#include "core/maintenance/progress.h"

namespace bv::maintenance {

// The three operations, in the order of the main window's tabs.
enum class Operation { Backup, Restore, TruncateLog };

// The name the user reads: "バックアップ", "レストア", "ログの切り捨て".
std::string_view operationName(Operation operation);

// A maintenance batch may run for hours: six hours, in seconds.
inline constexpr int kMaintenanceCommandTimeoutSeconds = 21600;

// The connection of a maintenance run: the login's settings, and for exactly the restore
// operation's name "Database=master" after them, so that a restore never holds the database it
// overwrites. Every other name (one with a trailing blank included) runs in the login's default
// database.
db::ConnectionSettings maintenanceConnectionSettings(const db::LoginSettings& login,
                                                     std::string_view operationName);

struct ExecutionOutcome {
  bool succeeded = false;
  // Whether the connection opened: a failure with it false never reached the batch.
  bool connected = false;
  // On failure: the operation name + "中にエラーが発生しました。" + CR LF CR LF + each entry of the
  // provider error list followed by CR LF.
  std::string errorMessage;
  std::vector<db::ErrorEntry> errors;
  // The server's informational messages (progress, completion lines).
  std::vector<db::ErrorEntry> infoMessages;
};

// The failure message for an operation and a provider error list.
std::string executionErrorMessage(std::string_view operationName, const std::vector<db::ErrorEntry>& errors);

// Opens a fresh connection, sends the command as the only line of a query with the six-hour
// timeout, reads everything to the end, and closes the connection on every path. Provider
// failures (connect, batch, lost link) come back as an outcome; nothing is thrown for them.
// Each informational message as the server sends it (progress, completion lines), on the thread
// that runs the command.
// With a percent sink, the working connection's session id is read first (SELECT @@SPID) and a
// second connection reads the server's own percentage of the work while it runs (progress.h).
using MessageSink = std::function<void(const db::ErrorEntry&)>;

ExecutionOutcome executeMaintenanceCommand(const db::ConnectionSettings& settings, const std::string& command,
                                           std::string_view operationName, const MessageSink& onMessage = {},
                                           const PercentSink& onPercent = {});

}  // namespace bv::maintenance
