#include "core/scheduling/task_parameters.h"

#include "core/maintenance/retention.h"
#include "core/tasks/task_argument.h"

namespace bv::scheduling {
namespace {

using tasks::refusedArgument;

bool flagAt(const std::vector<std::string>& arguments, std::size_t field) {
  if (arguments[field] == "1") return true;
  if (arguments[field] != "0") throw refusedArgument(field, "「1」か「0」でなければなりません。");
  return false;
}

}  // namespace

std::string encodeTaskParameters(const maintenance::BackupRequest& request) {
  const bool sql = request.login.useSqlAuth;
  std::vector<std::string> arguments = {
      sql ? "2" : "1",
      sql ? tasks::EncodeTaskArgument(request.login.userName) : "0",
      sql ? tasks::EncodeTaskArgument(request.login.password) : "0",
      tasks::EncodeTaskArgument(request.login.server),
      tasks::EncodeTaskArgument(request.database),
      tasks::EncodeTaskArgument(request.backupFile),
      request.verify ? "1" : "0",
  };
  // Each later field is written only when it or one after it is not the default.
  const bool kind = request.kind != maintenance::BackupKind::Full || request.checksum;
  const bool testRestore = request.testRestore || kind;
  if (request.generations != maintenance::kKeepAllGenerations || testRestore) {
    arguments.push_back(std::to_string(request.generations));
  }
  if (testRestore) arguments.push_back(request.testRestore ? "1" : "0");
  if (kind) arguments.push_back(std::to_string(static_cast<int>(request.kind)));
  if (request.checksum) arguments.push_back("1");
  return tasks::joinTaskParameters(arguments);
}

maintenance::BackupRequest decodeTaskParameters(const std::vector<std::string>& arguments) {
  tasks::checkArgumentCount(arguments);
  maintenance::BackupRequest request;
  if (arguments[tasks::kAuthenticationField] == "2") {
    request.login.useSqlAuth = true;
  } else if (arguments[tasks::kAuthenticationField] != "1") {
    throw refusedArgument(tasks::kAuthenticationField, "「1」（Windows 認証）か「2」（SQL Server 認証）でなければなりません。");
  }
  if (request.login.useSqlAuth) {
    request.login.userName = tasks::decodeArgumentAt(arguments, tasks::kLoginNameField);
    request.login.password = tasks::decodeArgumentAt(arguments, tasks::kPasswordField);
    if (request.login.userName.empty()) {
      throw refusedArgument(tasks::kLoginNameField, "SQL Server 認証ではログイン名が必要です。");
    }
  } else {
    for (const std::size_t field : {tasks::kLoginNameField, tasks::kPasswordField}) {
      if (arguments[field] != "0") throw refusedArgument(field, "Windows 認証では「0」でなければなりません。");
    }
  }
  const tasks::TaskTarget target = tasks::readTaskTarget(arguments);
  request.login.server = target.server;
  request.database = target.database;
  request.backupFile = target.backupFile;
  request.verify = flagAt(arguments, tasks::kVerifyField);
  if (arguments.size() > tasks::kGenerationsField) {
    const std::string& kept = arguments[tasks::kGenerationsField];
    const bool decimal = !kept.empty() && kept.size() <= 3 && kept.find_first_not_of("0123456789") == std::string::npos &&
                         (kept == "0" || kept[0] != '0');
    const int value = decimal ? std::stoi(kept) : -1;
    if (value != maintenance::kKeepAllGenerations && !maintenance::generationsInRange(value)) {
      throw refusedArgument(tasks::kGenerationsField, "0 か、" + std::to_string(maintenance::kMinGenerations) +
                                                          " から " + std::to_string(maintenance::kMaxGenerations) +
                                                          " までの 10 進数でなければなりません。");
    }
    request.generations = value;
  }
  if (arguments.size() > tasks::kTestRestoreField) request.testRestore = flagAt(arguments, tasks::kTestRestoreField);
  if (arguments.size() > tasks::kBackupKindField) {
    const std::string& kind = arguments[tasks::kBackupKindField];
    if (kind != "0" && kind != "1" && kind != "2") {
      throw refusedArgument(tasks::kBackupKindField, "「0」（完全）、「1」（差分）か「2」（ログ）でなければなりません。");
    }
    request.kind = static_cast<maintenance::BackupKind>(kind[0] - '0');
  }
  if (arguments.size() > tasks::kChecksumField) request.checksum = flagAt(arguments, tasks::kChecksumField);
  return request;
}

}  // namespace bv::scheduling
