#include "core/maintenance/command_builder.h"

#include "core/db/sql_text.h"
#include "core/text/ascii.h"
#include "core/text/codepage.h"

namespace bv::maintenance {

std::string joinCommandLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) {
    out += line;
    out += ' ';
  }
  return out;
}

std::optional<std::string_view> backupFileProblem(std::string_view backupFilePath) {
  const std::optional<std::string> bytes = text::utf8ToCp932Exact(backupFilePath);
  if (!bytes) return kBackupFileUnusableCharacter;
  // Each %date%, in any letter case, becomes 8 digits.
  const std::string folded = text::asciiLower(*bytes);
  std::size_t dates = 0;
  for (std::size_t at = folded.find("%date%"); at != std::string::npos; at = folded.find("%date%", at + 6)) {
    ++dates;
  }
  const std::size_t resolved = bytes->size() + dates * (8 - 6);
  if (resolved > kMaxBackupFileBytes) return kBackupFileTooLong;
  return std::nullopt;
}

std::vector<std::string> backupCommandLines(std::string_view databaseName, std::string_view backupFilePath) {
  return {
      "begin ",
      "  DECLARE @strDate  varchar(20) ",
      "  DECLARE @strFile  varchar(1000) ",
      "  DECLARE @strName  varchar(100) ",
      " ",
      "  SET @strDate = CONVERT(varchar, GETDATE(), 111) ",
      "  SET @strDate = REPLACE(@strDate,'/','') ",
      " ",
      "  SET @strFile = REPLACE(N'" + db::QuoteSqlString(backupFilePath) + "', '%date%', @strDate) ",
      "  SET @strName = 'Brackenvale_' + @strDate ",
      " ",
      "  BACKUP ",
      "  DATABASE " + db::bracketName(databaseName) + " ",
      "  TO DISK = @strFile ",
      "  WITH ",
      "   STATS = 100 ",
      "  ,INIT ",
      "  ,NAME = @strName ",
      "  ,DESCRIPTION  = 'Build by Brackenvale' ",
      "end ",
  };
}

std::vector<std::string> chainBackupCommandLines(std::string_view databaseName, std::string_view backupFilePath,
                                                 BackupKind kind, bool checksum, bool verify) {
  std::vector<std::string> lines = {
      "begin ",
      "  DECLARE @now  datetime ",
      "  DECLARE @strDate  varchar(20) ",
      "  DECLARE @strTime  varchar(20) ",
      "  DECLARE @strFile  varchar(1000) ",
      "  DECLARE @strName  varchar(100) ",
      "  DECLARE @exists  int ",
      " ",
      "  SET @now = GETDATE() ",
      "  SET @strDate = REPLACE(CONVERT(varchar, @now, 111),'/','') ",
      "  SET @strTime = REPLACE(CONVERT(varchar, @now, 108),':','') ",
      " ",
      "  SET @strFile = REPLACE(N'" + db::QuoteSqlString(backupFilePath) + "', '%date%', @strDate) ",
      "  SET @strFile = REPLACE(@strFile, '%time%', @strTime) ",
      "  SET @strName = 'Brackenvale_' + @strDate + @strTime ",
      " ",
      // Two runs in one second, a clock set back, the hour a fall-back repeats: never over a file.
      "  SET @exists = 0 ",
      "  EXEC master.dbo.xp_fileexist @strFile, @exists OUTPUT ",
      "  IF @exists = 1 ",
      "  begin ",
      "    RAISERROR(N'" + db::QuoteSqlString(kBackupFileExists) + "', 16, 1, @strFile) ",
      "    RETURN ",
      "  end ",
      " ",
      "  BACKUP ",
      std::string(kind == BackupKind::Log ? "  LOG " : "  DATABASE ") + db::bracketName(databaseName) + " ",
      "  TO DISK = @strFile ",
      "  WITH ",
      "   STATS = 100 ",
  };
  if (kind == BackupKind::Differential) lines.emplace_back("  ,DIFFERENTIAL ");
  if (checksum) lines.emplace_back("  ,CHECKSUM ");
  lines.emplace_back("  ,NAME = @strName ");
  lines.emplace_back("  ,DESCRIPTION  = 'Build by Brackenvale' ");
  if (verify) lines.emplace_back("  " + std::string(kVerifyLine));
  lines.emplace_back("end ");
  return lines;
}

std::vector<std::string> backupCommandLines(std::string_view databaseName, std::string_view backupFilePath,
                                            BackupKind kind, bool checksum) {
  if (kind == BackupKind::Full && !checksum) return backupCommandLines(databaseName, backupFilePath);
  return chainBackupCommandLines(databaseName, backupFilePath, kind, checksum, false);
}

std::string buildBackupCommand(std::string_view databaseName, std::string_view backupFilePath, bool verify) {
  auto lines = backupCommandLines(databaseName, backupFilePath);
  if (verify) lines.emplace_back(kVerifyLine);
  return joinCommandLines(lines);
}

std::string buildBackupCommand(std::string_view databaseName, std::string_view backupFilePath, BackupKind kind,
                               bool checksum, bool verify) {
  if (kind == BackupKind::Full && !checksum) return buildBackupCommand(databaseName, backupFilePath, verify);
  return joinCommandLines(chainBackupCommandLines(databaseName, backupFilePath, kind, checksum, verify));
}

std::string buildRestoreCommand(std::string_view databaseName, std::string_view restoreFilePath) {
  return joinCommandLines({
      "RESTORE ",
      "DATABASE " + db::bracketName(databaseName),
      "FROM DISK = N'" + db::QuoteSqlString(restoreFilePath) + "'",
      "WITH REPLACE",
  });
}

std::string buildTruncateLogCommand(std::string_view databaseName) {
  return joinCommandLines({"BACKUP", "LOG " + db::bracketName(databaseName), "WITH TRUNCATE_ONLY"});
}

std::string buildShrinkCommand(std::string_view databaseName) {
  return joinCommandLines({"DBCC ", "SHRINKDATABASE(" + db::bracketName(databaseName) + ",1)"});
}

}  // namespace bv::maintenance
