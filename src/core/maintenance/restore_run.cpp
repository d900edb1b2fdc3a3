#include "core/maintenance/restore_run.h"

#include <optional>

#include "core/db/sql_text.h"
#include "core/maintenance/file_placement.h"
#include "core/maintenance/server_release.h"
#include "core/maintenance/server_session.h"
#include "core/text/ascii.h"

namespace bv::maintenance {

std::string newNameTakenText(std::string_view name) {
  return "データベース名 " + std::string(name) + " は既に使われているため、何も変更しませんでした。";
}
std::string restoredText(std::string_view name, std::string_view reaches) {
  return "データベース " + std::string(name) + " に復元しました（" + momentText(reaches) + " の状態）。";
}
std::string restoreFailedText(std::size_t index, std::size_t count, std::string_view file) {
  return "復元中にエラーが発生しました（" + std::to_string(index + 1) + " / " + std::to_string(count) + "：" +
         std::string(file) + "）。";
}
std::string notOnlineText(std::string_view name, std::string_view state) {
  return "復元は終わりましたが、データベース " + std::string(name) + " は " + std::string(state) +
         " の状態です。続きのログバックアップを復元するか、RESTORE DATABASE [" + std::string(name) +
         "] WITH RECOVERY で使える状態にしてください。";
}
std::string fileTakenText(std::string_view path) {
  return "復元先のファイル " + std::string(path) + " と同じ名前のファイルが既にあり、空いている名前も見つからないため、何も変更しませんでした。";
}
std::string halfRestoredDroppedText(std::string_view name) {
  return "途中まで復元したデータベース " + std::string(name) + " は削除しました。元のデータベースは変更されていません。";
}
std::string halfRestoredLeftText(std::string_view name, std::string_view state) {
  return "データベース " + std::string(name) + " は " + std::string(state) + " の状態で残っています。";
}

namespace {

std::string isoMoment(const std::string& serverTime) {
  std::string text = serverTime;
  if (text.size() > 10) text[10] = 'T';
  return text;
}

bool exists(ServerSession& session, const std::string& path) {
  const auto rows = session.rows("EXEC master.dbo.xp_fileexist " + db::unicodeLiteral(path),
                                 {"File Exists", "File is a Directory"});
  return !rows.empty() && (valueOf(rows[0], "File Exists") == "1" || valueOf(rows[0], "File is a Directory") == "1");
}

// The path, or the first of <stem>_2 … <stem>_99 with its extension that is not on disk.
std::optional<std::string> freePath(ServerSession& session, const std::string& path) {
  if (!exists(session, path)) return path;
  const std::size_t slash = path.find_last_of("\\/");
  const std::size_t dot = path.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string stem = hasExtension ? path.substr(0, dot) : path;
  const std::string extension = hasExtension ? path.substr(dot) : std::string();
  for (int n = 2; n < 100; ++n) {
    const std::string candidate = stem + "_" + std::to_string(n) + extension;
    if (!exists(session, candidate)) return candidate;
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::string> restoreStatements(std::string_view newName, const RestorePlan& plan,
                                           const std::string& moveClauses) {
  std::vector<std::string> statements;
  for (std::size_t i = 0; i < plan.steps.size(); ++i) {
    const RestoreStep& step = plan.steps[i];
    const bool last = i + 1 == plan.steps.size();
    std::string text = std::string(step.set.type == 'L' ? "RESTORE LOG " : "RESTORE DATABASE ") +
                       db::bracketName(newName) + " FROM DISK = " + db::unicodeLiteral(step.set.file) +
                       " WITH FILE = " + std::to_string(step.set.position);
    if (i == 0) text += moveClauses;
    text += last ? ", RECOVERY" : ", NORECOVERY";
    if (step.stopAt) text += ", STOPAT = " + db::unicodeLiteral(isoMoment(*step.stopAt));
    statements.push_back(std::move(text));
  }
  return statements;
}

RestoreRunOutcome restoreUnderNewName(const db::ConnectionSettings& settings, std::string_view sourceDatabase,
                                      std::string_view newName, const RestorePlan& plan, bool checkAfter,
                                      const RestoreStepProgress& progress) {
  RestoreRunOutcome outcome;
  db::ConnectionSettings master = settings;
  master.set("Database", "master");  // a restore runs from master, never inside what it writes
  std::optional<ServerSession> session;
  bool sent = false;
  std::size_t failedAt = 0;
  try {
    session.emplace(master);
    master.forgetPassword();
    const ServerRelease release = readRelease(*session);
    if (!databaseState(*session, newName).empty()) {
      outcome.message = newNameTakenText(newName);
      return outcome;
    }
    const BackupSetEntry& full = plan.steps.front().set;
    const auto idRows = session->rows("SELECT DB_ID(" + db::unicodeLiteral(sourceDatabase) + ") AS id", {"id"});
    const auto [dataFolder, logFolder] =
        placementFolders(*session, release, idRows.empty() ? std::string() : valueOf(idRows[0], "id"));
    std::string moves;
    bool firstData = true;
    for (const ListedFile& file : listFiles(*session, full.file, std::to_string(full.position), release)) {
      const std::string wanted = movedPath(file, std::string(newName), dataFolder, logFolder, firstData && file.type == "D");
      if (file.type == "D") firstData = false;
      const auto path = freePath(*session, wanted);
      if (!path) {
        outcome.message = fileTakenText(wanted);
        return outcome;
      }
      moves += ", MOVE " + db::unicodeLiteral(file.logicalName) + " TO " + db::unicodeLiteral(*path);
    }
    const std::vector<std::string> statements = restoreStatements(newName, plan, moves);
    for (std::size_t i = 0; i < statements.size(); ++i) {
      failedAt = i;
      if (progress) progress(i, statements.size(), plan.steps[i].set);
      sent = true;
      session->execute(statements[i]);
    }
    const std::string state = databaseState(*session, newName);
    if (!text::equalsIgnoringAsciiCase(state, "ONLINE")) {
      outcome.message = notOnlineText(newName, state);
      return outcome;
    }
    if (checkAfter) {
      try {
        session->execute("DBCC CHECKDB (" + db::bracketName(newName) + ") WITH NO_INFOMSGS, ALL_ERRORMSGS");
      } catch (const db::ProviderError&) {
        outcome.errors = session->errors();
        outcome.message = withServerTexts(restoredText(newName, plan.reaches) + "\r\n" + std::string(kRestoredDamaged),
                                      outcome.errors);
        return outcome;
      }
    }
    outcome.succeeded = true;
    outcome.message = restoredText(newName, plan.reaches);
    return outcome;
  } catch (const db::ProviderError&) {
    if (session) outcome.errors = session->errors();
  } catch (const db::ConnectionStringError& error) {
    outcome.errors = {{error.what(), "08001", 0}};
  }
  std::string header = sent ? restoreFailedText(failedAt, plan.steps.size(), plan.steps[failedAt].set.file)
                            : std::string("復元の準備中にエラーが発生しました。");
  // The name did not exist before this restore: a database under it that is still restoring is the
  // one this restore made, and goes; one online is someone else's.
  if (sent && session) {
    try {
      const std::string state = databaseState(*session, newName);
      if (text::equalsIgnoringAsciiCase(state, "RESTORING")) {
        session->execute("DROP DATABASE " + db::bracketName(newName));
        header += "\r\n" + halfRestoredDroppedText(newName);
      } else if (!state.empty()) {
        header += "\r\n" + halfRestoredLeftText(newName, state);
      }
    } catch (const db::ProviderError&) {
      header += "\r\n" + halfRestoredLeftText(newName, "RESTORING");
    }
  }
  outcome.message = withServerTexts(header, outcome.errors);
  return outcome;
}

}  // namespace bv::maintenance
